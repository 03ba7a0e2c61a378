#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

// A byte and the time (monotonic nanoseconds) it is due: received by the board, or through
// the board's transmit line.
class CTimedByte
{
  public:
    uint8_t Value;
    int64_t Due;
};

const size_t UsbPacketBytes = 62;

// A USB-serial adapter between the board's transmit line and the host, as FTDI chips work:
// received bytes wait in the adapter until 62 have gathered, which go at once, or until the
// latency timer runs out. The timer restarts at every packet; an idle adapter sends an empty
// status packet whenever it runs out, so a lone byte leaves at the next tick of a grid that
// every packet restarts. A latency of 0 models no adapter: each byte reaches the host when it
// is due.
class CUsbAdapter
{
  public:
    CUsbAdapter(int64_t latencyNs, int64_t startNs) : LatencyNs(latencyNs), LastPacket(startNs) {}

    // How many bytes at the head of line (sorted by Due) the host may have by now. Bytes
    // released stay released until Taken, also when the host cannot take them at once.
    size_t Releasable(const std::deque<CTimedByte>& line, int64_t now);
    // When the next packet goes, as far as the bytes in line tell; INT64_MAX for none.
    int64_t NextRelease(const std::deque<CTimedByte>& line) const;
    // The host took count bytes from the head of line.
    void Taken(size_t count);
    // The bytes in line were dropped.
    void Discarded() { Released = 0; }

  private:
    // The next packet after the released bytes: when it goes and how many bytes it carries.
    bool NextPacket(const std::deque<CTimedByte>& line, int64_t& when, size_t& count) const;

    int64_t LatencyNs;
    int64_t LastPacket;
    size_t Released = 0;
};
