#include "target/TargetLink.h"

#include "base/Clock.h"
#include "base/Diagnostic.h"
#include "base/Stop.h"
#include "image/Image.h"
#include "serial/ComPort.h"
#include "target/LinkFrames.h"
#include "target/Progress.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

unsigned char VerifyBuffer[VerifyBufferSize];
unsigned char FlashCopy[ImageCapacity];
unsigned char BlockFrames[MaxProgramLength * 2 * TargetFrameLength];

namespace
{

// Frames still queued when a run ends early: a whole block goes out in about 60 ms.
const int DrainLimitMs = 500;
// Replies still on their way arrive at least this often: behind a USB adapter the last partial
// packet waits for its latency timer (16 ms by default).
const int QuietLineMs = 20;

void SendFrame(TargetCommand command, int address, unsigned char data)
{
    TargetFrame frame = MakeTargetFrame(command, address, data);
    TargetPort.Write(frame.Bytes, sizeof frame.Bytes);
}

bool SendReadFrames(int address, const unsigned char* /*data*/, int length)
{
    if (length < 0 || length > VerifyBufferSize || !MayStartFrame())
    {
        return false;
    }
    unsigned char* frame = BlockFrames;
    for (int i = 0; i < length; ++i)
    {
        frame = PutFrame(frame, CommandRead, address + i, 0x00);
    }
    TargetPort.Write(BlockFrames, length * TargetFrameLength);
    return true;
}

int ReadReplyBytes(const unsigned char* /*data*/, int length)
{
    return length;
}

bool ReceiveVerifyReplies(int address, const unsigned char* expected, int length, int bytesInFlight)
{
    if (length < 0 || length > VerifyBufferSize || !ReceiveReadBytes(address, VerifyBuffer, length))
    {
        return false;
    }
    const unsigned char* mismatch =
        std::mismatch(VerifyBuffer, VerifyBuffer + length, expected).first;
    if (mismatch != VerifyBuffer + length)
    {
        int offset = static_cast<int>(mismatch - VerifyBuffer);
        Diagnose("verify mismatch at 0x%06X: expected 0x%02X, read 0x%02X", address + offset,
                 expected[offset], VerifyBuffer[offset]);
        return false;
    }
    WarnOfSurplus("Prog More\n", bytesInFlight);
    return true;
}

// Buffer holds the flash from address 0: a block's replies go to its place there.
template <unsigned char* Buffer>
bool ReceiveInto(int address, const unsigned char* /*data*/, int length, int bytesInFlight)
{
    if (length < 0 || address < 0 || address + length > ImageCapacity ||
        !ReceiveReadBytes(address, Buffer + address, length))
    {
        return false;
    }
    WarnOfSurplus("Read More \n", bytesInFlight);
    return true;
}

void DrainOutput(long long untilMs)
{
    while (TargetPort.QueryStatus(1) != 0 && ClockMilliseconds() < untilMs)
    {
        PauseMilliseconds(1);
    }
}

} // namespace

bool ReceiveReadBytes(int address, unsigned char* into, int length)
{
    int received = TargetPort.Read(into, length);
    if (received != length)
    {
        DiagnoseMissingReply("read", address + (received > 0 ? received : 0), received, length);
        return false;
    }
    return true;
}

void AwaitQuietLine(int graceMs)
{
    DrainOutput(ClockMilliseconds() + DrainLimitMs);
    long long end = ClockMilliseconds() + graceMs;
    uint32_t queued = TargetPort.QueryStatus(0);
    while (ClockMilliseconds() < end)
    {
        PauseMilliseconds(QuietLineMs);
        uint32_t now = TargetPort.QueryStatus(0);
        if (now == queued)
        {
            return;
        }
        queued = now;
    }
}

void AwaitReplies(int count, int graceMs)
{
    DrainOutput(ClockMilliseconds() + DrainLimitMs);
    long long end = ClockMilliseconds() + graceMs;
    while (TargetPort.QueryStatus(0) < static_cast<uint32_t>(count) && ClockMilliseconds() < end)
    {
        PauseMilliseconds(1);
    }
}

void PutSequenceFrames(const CCommandSequence& sequence)
{
    unsigned char* frame = BlockFrames;
    for (int i = 0; i < sequence.Count; ++i)
    {
        frame = PutFrame(frame, CommandWriteCycle, sequence.Cycles[i].Address,
                         sequence.Cycles[i].Value);
    }
    TargetPort.Write(BlockFrames, static_cast<int>(frame - BlockFrames));
}

bool MayStartFrame()
{
    return !StopCutsShort();
}

void DiagnoseMissingReply(const char* operation, int address, int received, int expected)
{
    if (StopCutsShort())
    {
        return;
    }
    if (received <= 0)
    {
        Diagnose("no reply to the %s at 0x%06X", operation, address);
    }
    else
    {
        Diagnose("short reply to the %s at 0x%06X: %d of %d bytes", operation, address, received,
                 expected);
    }
}

void WarnOfSurplus(const char* warning, int bytesInFlight)
{
    if (TargetPort.QueryStatus(0) > static_cast<uint32_t>(bytesInFlight))
    {
        ShowMessage(warning);
    }
}

unsigned char* PutFrame(unsigned char* at, TargetCommand command, int address, unsigned char data)
{
    TargetFrame frame = MakeTargetFrame(command, address, data);
    memcpy(at, frame.Bytes, sizeof frame.Bytes);
    return at + sizeof frame.Bytes;
}

TargetFrame MakeTargetFrame(TargetCommand command, int address, unsigned char data)
{
    TargetFrame frame = {{
        command,
        static_cast<unsigned char>(address),
        static_cast<unsigned char>(address >> 8),
        static_cast<unsigned char>(address >> 16),
        data,
    }};
    return frame;
}

bool ReadTargetByte(int address, unsigned char& value)
{
    return SendTargetRead(address) && ReceiveTargetByte(address, value);
}

bool SendTargetRead(int address)
{
    if (!MayStartFrame())
    {
        return false;
    }
    SendFrame(CommandRead, address, 0x00);
    return true;
}

bool ReceiveTargetByte(int address, unsigned char& value)
{
    if (TargetPort.Read(&value, 1) != 1)
    {
        DiagnoseMissingReply("read", address, 0, 1);
        return false;
    }
    WarnOfSurplus("Read More \n");
    return true;
}

bool ProbeTarget(int address, int waitMs)
{
    if (!MayStartFrame())
    {
        return false;
    }
    TargetPort.PurgeInput();
    SendFrame(CommandRead, address, 0x00);
    unsigned char value = 0;
    if (TargetPort.ReadWithin(&value, 1, waitMs) != 1)
    {
        return false;
    }
    // A board answers a read with one byte; a device that talks on its own (a modem, a GPS
    // receiver) sends more, and must never be taken for a board.
    PauseMilliseconds(QuietLineMs);
    return TargetPort.QueryStatus(0) == 0;
}

bool WriteTargetCycle(int address, unsigned char value)
{
    const BusCycle cycle = {address, value};
    return SendSequence({&cycle, 1});
}

bool VerifyBlock(int address, const unsigned char* expected, int length)
{
    return SendReadFrames(address, expected, length) &&
           ReceiveVerifyReplies(address, expected, length, 0);
}

bool ReadTargetBytes(int address, unsigned char* into, int length)
{
    return SendReadFrames(address, into, length) && ReceiveReadBytes(address, into, length);
}

const CBlockTransaction VerifyTransaction = {SendReadFrames, ReceiveVerifyReplies, ReadReplyBytes};
const CBlockTransaction ReadBackTransaction = {SendReadFrames, ReceiveInto<ImageBuffer>,
                                               ReadReplyBytes};
const CBlockTransaction ReadIntoFlashCopy = {SendReadFrames, ReceiveInto<FlashCopy>,
                                             ReadReplyBytes};

bool SendSequence(const CCommandSequence& sequence, int lookAhead)
{
    if (lookAhead > 0)
    {
        return SendSequenceFrames(sequence) && ReceiveSequenceReplies(sequence, 0);
    }
    for (int i = 0; i < sequence.Count; ++i)
    {
        const CCommandSequence one = {sequence.Cycles + i, 1};
        if (!SendSequenceFrames(one) || !ReceiveSequenceReplies(one, 0))
        {
            return false;
        }
    }
    return true;
}

bool SendSequenceFrames(const CCommandSequence& sequence)
{
    if (sequence.Count < 0 || sequence.Count > MaxSequenceCycles || !MayStartFrame())
    {
        return false;
    }
    PutSequenceFrames(sequence);
    return true;
}

// Missing acknowledgements are those of the last cycles: the first of them is named, as when
// each cycle waits for its own.
bool ReceiveSequenceReplies(const CCommandSequence& sequence, int bytesInFlight)
{
    unsigned char acknowledgements[MaxSequenceCycles];
    if (sequence.Count < 0 || sequence.Count > MaxSequenceCycles)
    {
        return false;
    }
    const int received = TargetPort.Read(acknowledgements, sequence.Count);
    if (received != sequence.Count)
    {
        DiagnoseMissingReply("write cycle", sequence.Cycles[received > 0 ? received : 0].Address, 0,
                             1);
        return false;
    }
    if (std::find(acknowledgements, acknowledgements + received, 0xFF) !=
        acknowledgements + received)
    {
        WarnOfSurplus("Write More \n", bytesInFlight);
    }
    return true;
}
