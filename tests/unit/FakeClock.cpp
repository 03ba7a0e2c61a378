#include "tests/unit/FakeClock.h"

#include "base/Clock.h"
#include "base/Stop.h"

#include <algorithm>
#include <map>

namespace
{

long long NowMs = 0;
std::multimap<long long, std::function<void()>> Changes;

} // namespace

void ResetFakeClock()
{
    NowMs = 0;
    Changes.clear();
}

long long FakeClockMilliseconds()
{
    return NowMs;
}

void AtFakeTime(long long atMs, std::function<void()> change)
{
    Changes.emplace(atMs, std::move(change));
}

void RunDueChanges()
{
    while (!Changes.empty() && Changes.begin()->first <= NowMs)
    {
        std::function<void()> change = std::move(Changes.begin()->second);
        Changes.erase(Changes.begin());
        change();
    }
}

void PauseMilliseconds(int milliseconds)
{
    const bool stoppedBefore = StopRequested();
    const long long end = NowMs + milliseconds;
    while (NowMs < end)
    {
        NowMs = Changes.empty() ? end : std::min(end, std::max(NowMs, Changes.begin()->first));
        RunDueChanges();
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

long long ClockNanoseconds()
{
    return NowMs * 1000000;
}

long long WallClockMilliseconds()
{
    return NowMs;
}
