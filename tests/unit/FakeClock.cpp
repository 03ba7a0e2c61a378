// The host's clock in the unit tests: a pause only moves it on, applying the changes on the
// line that fall into it; like the real one it ends early when a stop is requested.
#include "base/Clock.h"
#include "base/Stop.h"
#include "tests/unit/BoardPort.h"

#include <algorithm>

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
    const bool stoppedBefore = StopRequested();
    const long long end = NowMs + milliseconds;
    while (NowMs < end)
    {
        NowMs = std::min(end, std::max(NowMs, NextLineChangeMs()));
        ApplyDueLineChanges();
        if (!stoppedBefore && StopRequested())
        {
            return;
        }
    }
}

long ClockSeconds()
{
    return static_cast<long>(NowMs / 1000);
}

long long ClockMilliseconds()
{
    return NowMs;
}

long long WallClockMilliseconds()
{
    return NowMs;
}
