#include "board/BoardLine.h"

#include "board/BoardClock.h"

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <poll.h>
#include <unistd.h>
#include <vector>

static const size_t IoChunk = 4096;

CBoardLine::CBoardLine(const CBoardOptions& options, int64_t now)
    : Baud(options.Baud),
      // About 20 ms of line time is taken from the device at once, so that the host's own
      // queue drains at the line rate instead of vanishing into the board at once.
      ReadAhead(std::max<size_t>(64, options.Baud / 550)), ReceiveClock(options.Baud),
      TransmitClock(options.Baud),
      Adapter(options.LatencyMilliseconds * NanosecondsPerMillisecond, now)
{
}

size_t CBoardLine::Receive(int device, bool drainAll, bool toBoard, CTraceFile& trace)
{
    uint8_t buffer[IoChunk];
    size_t total = 0;
    for (;;)
    {
        size_t room = sizeof buffer;
        if (!drainAll && Baud != 0)
        {
            if (Incoming.size() >= ReadAhead)
            {
                break;
            }
            room = std::min(room, ReadAhead - Incoming.size());
        }
        const ssize_t count = read(device, buffer, room);
        if (count < 0 && errno == EINTR)
        {
            continue;
        }
        // EAGAIN: all read; EIO: the device side is closed and nothing is left.
        if (count <= 0)
        {
            break;
        }
        const int64_t now = BoardNanoseconds();
        for (ssize_t i = 0; toBoard && i < count; ++i)
        {
            Incoming.push_back(CTimedByte{buffer[i], ReceiveClock.Schedule(now)});
        }
        trace.Record(buffer, static_cast<size_t>(count));
        total += static_cast<size_t>(count);
    }
    if (total != 0)
    {
        HostAway = false;
        trace.Flush();
    }
    return total;
}

void CBoardLine::Serve(int64_t now, CEmulatedBoard& board)
{
    std::vector<uint8_t> reply;
    while (!Incoming.empty() && Incoming.front().Due <= now && !board.VanishPending())
    {
        const CTimedByte byte = Incoming.front();
        Incoming.pop_front();
        reply.clear();
        board.Server().Receive(byte.Value, reply);
        std::transform(reply.begin(), reply.end(), std::back_inserter(Outgoing),
                       [this, &byte](uint8_t value) {
                           return CTimedByte{value, TransmitClock.Schedule(byte.Due)};
                       });
    }
}

void CBoardLine::Transmit(int64_t now, int device)
{
    if (HostAway)
    {
        // Bytes sent to a closed port are lost on a real line; a pseudo-terminal would keep
        // them for the next one to open it.
        DropOutgoing();
        TransmitBlocked = false;
        return;
    }
    uint8_t buffer[IoChunk];
    size_t releasable = Adapter.Releasable(Outgoing, now);
    while (!TransmitBlocked && releasable != 0)
    {
        const size_t count = std::min(releasable, sizeof buffer);
        std::transform(Outgoing.begin(), Outgoing.begin() + static_cast<ptrdiff_t>(count), buffer,
                       [](const CTimedByte& byte) { return byte.Value; });
        const ssize_t written = write(device, buffer, count);
        if (written > 0)
        {
            Outgoing.erase(Outgoing.begin(), Outgoing.begin() + written);
            Adapter.Taken(static_cast<size_t>(written));
            releasable -= static_cast<size_t>(written);
        }
        else if (written < 0 && errno == EAGAIN)
        {
            TransmitBlocked = true;
        }
        else if (written < 0 && errno != EINTR)
        {
            DropOutgoing();
            releasable = 0;
        }
    }
}

void CBoardLine::HostLeft()
{
    HostAway = true;
    DropOutgoing();
    TransmitBlocked = false;
}

void CBoardLine::DropAll()
{
    Incoming.clear();
    DropOutgoing();
}

void CBoardLine::Restart()
{
    DropAll();
    HostAway = false;
    TransmitBlocked = false;
}

void CBoardLine::DropOutgoing()
{
    Outgoing.clear();
    Adapter.Discarded();
}

short CBoardLine::PollEvents(bool receiving) const
{
    short events = 0;
    if (receiving && (Baud == 0 || Incoming.size() < ReadAhead))
    {
        events |= POLLIN;
    }
    if (TransmitBlocked)
    {
        events |= POLLOUT;
    }
    return events;
}

void CBoardLine::Polled(short revents)
{
    if ((revents & POLLOUT) != 0)
    {
        TransmitBlocked = false;
    }
}

int64_t CBoardLine::NextWake(size_t frameEnd, bool serving) const
{
    int64_t wake = INT64_MAX;
    // A byte that does not complete a frame changes nothing outside, so the board only wakes
    // for the bytes that do.
    if (serving && Incoming.size() >= frameEnd)
    {
        wake = Incoming[frameEnd - 1].Due;
    }
    if (!TransmitBlocked)
    {
        wake = std::min(wake, Adapter.NextRelease(Outgoing));
    }
    return wake;
}
