#include "base/Clock.h"

#include "base/Stop.h"

#include <cerrno>
#include <ctime>

namespace
{

struct timespec MonotonicNow()
{
    struct timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

} // namespace

void PauseMilliseconds(int milliseconds)
{
    bool stoppedBefore = StopRequested();
    struct timespec left = {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR && (stoppedBefore || !StopRequested()))
    {
    }
}

long ClockSeconds()
{
    return static_cast<long>(MonotonicNow().tv_sec);
}

long long ClockMilliseconds()
{
    struct timespec now = MonotonicNow();
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

long long ClockNanoseconds()
{
    struct timespec now = MonotonicNow();
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

long long WallClockMilliseconds()
{
    struct timespec now = {};
    clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}
