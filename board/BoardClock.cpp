#include "board/BoardClock.h"

#include <time.h>

int64_t BoardNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * NanosecondsPerSecond + now.tv_nsec;
}
