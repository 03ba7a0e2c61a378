#pragma once

#include <cstdint>

const int64_t BitTimesPerByte = 11; // start, 8 data, parity, stop

// The timing of one direction of a serial line: each byte needs 11 bit times on the wire and
// starts when it is ready or when the byte before it has finished, whichever is later. Times
// are nanoseconds on any monotonic scale. While the line stays busy, finishing times are
// computed from the start of the busy run, so rounding never accumulates over a long stream.
class CLineClock
{
  public:
    // baud 0 means no line at all: every byte finishes when it is ready.
    explicit CLineClock(uint32_t baud) : Baud(baud) {}

    // Returns when a byte that is ready at readyNs has gone over the line.
    int64_t Schedule(int64_t readyNs);
    int64_t ByteNanoseconds() const;

  private:
    uint32_t Baud;
    bool Running = false;
    int64_t RunStart = 0;
    int64_t RunBytes = 0;
    int64_t LastDone = 0;
};
