#include "board/LineClock.h"

static const int64_t NanosecondsPerSecond = 1000000000;
// Restarting the run from its last finishing time costs under 1 ns of exactness, and keeps
// RunBytes * 11e9 far from overflowing.
static const int64_t RunRestartBytes = 1 << 24;

int64_t CLineClock::ByteNanoseconds() const
{
    return Baud == 0 ? 0 : BitTimesPerByte * NanosecondsPerSecond / Baud;
}

int64_t CLineClock::Schedule(int64_t readyNs)
{
    if (Baud == 0)
    {
        return readyNs;
    }
    if (!Running || readyNs > LastDone || RunBytes >= RunRestartBytes)
    {
        RunStart = Running && readyNs <= LastDone ? LastDone : readyNs;
        RunBytes = 0;
        Running = true;
    }
    ++RunBytes;
    LastDone = RunStart + RunBytes * BitTimesPerByte * NanosecondsPerSecond / Baud;
    return LastDone;
}
