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
