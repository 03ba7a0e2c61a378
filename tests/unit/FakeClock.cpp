#include "tests/unit/FakeClock.h"

#include "base/Clock.h"

namespace
{

long long NowMs = 0;

} // namespace

void ResetFakeClock()
{
    NowMs = 0;
}

long long FakeClockMilliseconds()
{
    return NowMs;
}

void PauseMilliseconds(int milliseconds)
{
    NowMs += milliseconds;
}

long ClockSeconds()
{
    return static_cast<long>(NowMs / 1000);
}

long long ClockMilliseconds()
{
    return NowMs;
}

long long ClockNanoseconds()
{
    return NowMs * 1000000;
}

long long WallClockMilliseconds()
{
    return NowMs;
}
