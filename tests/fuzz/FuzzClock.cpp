// No real waiting under the fuzzer: a pause only moves the clock on.
#include "base/Clock.h"

namespace
{

long long FakeMilliseconds = 0;

} // namespace

void PauseMilliseconds(int milliseconds)
{
    FakeMilliseconds += milliseconds;
}

long ClockSeconds()
{
    return static_cast<long>(FakeMilliseconds / 1000);
}

long long WallClockMilliseconds()
{
    return FakeMilliseconds;
}

long long ClockNanoseconds()
{
    return FakeMilliseconds * 1000000;
}

long long ClockMilliseconds()
{
    return FakeMilliseconds;
}
