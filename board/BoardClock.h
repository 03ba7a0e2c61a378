#pragma once

#include <cstdint>

const int64_t NanosecondsPerMillisecond = 1000000;
const int64_t NanosecondsPerSecond = 1000000000;

// The board's one clock: monotonic nanoseconds from a fixed origin. Every time the board keeps
// (line pacing, the adapter's timer, the erase, the waits) is read from it.
int64_t BoardNanoseconds();
