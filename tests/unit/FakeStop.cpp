// Stop requests in the unit tests: made by the test at a fake time instead of by a signal.
// Every function of base/Stop.h is defined here, so the real one is never linked in.
#include "base/Stop.h"
#include "tests/unit/BoardPort.h"

namespace
{

int RequestedSignal = 0;

} // namespace

void ResetFakeStop()
{
    RequestedSignal = 0;
}

void RequestFakeStop(int signalNumber)
{
    RequestedSignal = signalNumber;
}

void RequestStop(int signalNumber)
{
    RequestFakeStop(signalNumber);
}

void CatchStopRequests() {}

void ReleaseStopRequests() {}

bool StopRequested()
{
    return RequestedSignal != 0;
}

int StopSignal()
{
    return RequestedSignal;
}

int StopDescriptor()
{
    return -1;
}
