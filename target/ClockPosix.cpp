#include "target/Clock.h"

#include <cerrno>
#include <ctime>

void PauseMilliseconds(int milliseconds)
{
    struct timespec left = {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR)
    {
    }
}

long ClockSeconds()
{
    return static_cast<long>(time(nullptr));
}

static long long Milliseconds(clockid_t clock)
{
    struct timespec now = {};
    clock_gettime(clock, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

long long WallClockMilliseconds()
{
    return Milliseconds(CLOCK_REALTIME);
}

long long MonotonicMilliseconds()
{
    return Milliseconds(CLOCK_MONOTONIC);
}
