#include "board/UsbAdapter.h"

#include <algorithm>
#include <climits>

bool CUsbAdapter::NextPacket(const std::deque<CTimedByte>& line, int64_t& when, size_t& count) const
{
    if (line.size() <= Released)
    {
        return false;
    }
    const int64_t first = line[Released].Due;
    const int64_t ticks = std::max<int64_t>(1, (first - LastPacket + LatencyNs - 1) / LatencyNs);
    when = LastPacket + ticks * LatencyNs;
    const size_t fullEnd = Released + UsbPacketBytes;
    if (line.size() >= fullEnd && line[fullEnd - 1].Due <= when)
    {
        when = line[fullEnd - 1].Due;
        count = UsbPacketBytes;
        return true;
    }
    count = 0;
    while (count < UsbPacketBytes && Released + count < line.size() &&
           line[Released + count].Due <= when)
    {
        ++count;
    }
    return true;
}

size_t CUsbAdapter::Releasable(const std::deque<CTimedByte>& line, int64_t now)
{
    if (LatencyNs == 0)
    {
        size_t due = 0;
        while (due < line.size() && line[due].Due <= now)
        {
            ++due;
        }
        return due;
    }
    int64_t when = 0;
    size_t count = 0;
    while (NextPacket(line, when, count) && when <= now)
    {
        LastPacket = when;
        Released += count;
    }
    return Released;
}

int64_t CUsbAdapter::NextRelease(const std::deque<CTimedByte>& line) const
{
    if (line.empty())
    {
        return INT64_MAX;
    }
    if (LatencyNs == 0)
    {
        return line.front().Due;
    }
    if (Released != 0)
    {
        return line.front().Due;
    }
    int64_t when = INT64_MAX;
    size_t count = 0;
    NextPacket(line, when, count);
    return when;
}

void CUsbAdapter::Taken(size_t count)
{
    Released -= std::min(Released, count);
}
