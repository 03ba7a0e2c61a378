#pragma once

#include "board/BoardFiles.h"
#include "board/BoardOptions.h"
#include "board/EmulatedBoard.h"
#include "board/LineClock.h"
#include "board/UsbAdapter.h"

#include <cstddef>
#include <cstdint>
#include <deque>

// The serial line between host and board: both directions paced at the baud rate, the
// USB-serial adapter in the transmit direction, and the bytes on their way.
class CBoardLine
{
  public:
    CBoardLine(const CBoardOptions& options, int64_t now);

    // Takes in what the host has sent, recording it in trace; without a board on the line
    // (toBoard false) the bytes go no further. When paced it takes only about 20 ms of line
    // time ahead of the board, unless drainAll. Returns how many bytes came.
    size_t Receive(int device, bool drainAll, bool toBoard, CTraceFile& trace);
    // Hands the board the bytes through the receive line by now, until its vanish is due, and
    // queues its replies on the transmit line.
    void Serve(int64_t now, CEmulatedBoard& board);
    // Writes what the host may have by now, as far as the device takes it.
    void Transmit(int64_t now, int device);
    // The host has closed the port: bytes on their way to it are lost.
    void HostLeft();
    void DropIncoming() { Incoming.clear(); }
    // The board has been taken off or replaced: bytes on their way in either direction are lost.
    void DropAll();
    // A new device: the line starts afresh.
    void Restart();
    bool OutgoingEmpty() const { return Outgoing.empty(); }
    bool HostGone() const { return HostAway; }

    // What the wait watches the device for; receiving is false while the board takes nothing in.
    short PollEvents(bool receiving) const;
    // What the wait saw on the device.
    void Polled(short revents);
    // When a frame is complete through the receive line (frameEnd bytes on) or the adapter
    // lets replies go; INT64_MAX for neither.
    int64_t NextWake(size_t frameEnd, bool serving) const;

  private:
    void DropOutgoing();

    const uint32_t Baud;
    const size_t ReadAhead;
    CLineClock ReceiveClock;
    CLineClock TransmitClock;
    CUsbAdapter Adapter;
    std::deque<CTimedByte> Incoming;
    std::deque<CTimedByte> Outgoing;
    // The host has closed the port and not sent anything since.
    bool HostAway = false;
    bool TransmitBlocked = false;
};
