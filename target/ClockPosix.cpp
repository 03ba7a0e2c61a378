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

long long ClockMilliseconds()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}
