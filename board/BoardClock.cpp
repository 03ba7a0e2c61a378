#include "board/BoardClock.h"

#include "base/Clock.h"

int64_t BoardNanoseconds()
{
    return ClockNanoseconds();
}
