#include "board/LineClock.h"

#include <gtest/gtest.h>

TEST(LineClock, WithoutBaudEveryByteIsDoneWhenReady)
{
    CLineClock clock(0);
    EXPECT_EQ(clock.Schedule(100), 100);
    EXPECT_EQ(clock.Schedule(100), 100);
    EXPECT_EQ(clock.Schedule(50), 50);
}

TEST(LineClock, BackToBackBytesFollowEachOther)
{
    CLineClock clock(9600);
    const int64_t elevenSecondsNs = 11000000000;
    EXPECT_EQ(clock.ByteNanoseconds(), elevenSecondsNs / 9600);
    EXPECT_EQ(clock.Schedule(1000), 1000 + elevenSecondsNs / 9600);
    EXPECT_EQ(clock.Schedule(1000), 1000 + 2 * elevenSecondsNs / 9600);
    // Three rounded byte times would be 1 ns short here.
    EXPECT_EQ(clock.Schedule(1001), 1000 + 3 * elevenSecondsNs / 9600);
}

TEST(LineClock, ByteReadyAfterAnIdleLineStartsWhenReady)
{
    CLineClock clock(115200);
    const int64_t first = clock.Schedule(0);
    const int64_t later = first + 5000000;
    EXPECT_EQ(clock.Schedule(later), later + 11 * 1000000000LL / 115200);
}

TEST(LineClock, LongStreamDoesNotDrift)
{
    // 95486.1 ns a byte at 115200: summing a rounded byte time would be 0.2 ms off here.
    CLineClock clock(115200);
    const int64_t bytes = 1900000;
    int64_t done = 0;
    for (int64_t i = 0; i < bytes; ++i)
    {
        done = clock.Schedule(0);
    }
    const int64_t exact = bytes * 11 * 1000000000LL / 115200;
    EXPECT_NEAR(static_cast<double>(done), static_cast<double>(exact), 2.0);
}
