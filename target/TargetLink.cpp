#include "target/TargetLink.h"

#include "base/Clock.h"
#include "base/Diagnostic.h"
#include "base/Stop.h"
#include "image/Image.h"
#include "serial/ComPort.h"
#include "target/Progress.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

unsigned char VerifyBuffer[VerifyBufferSize];

namespace
{

const int ProgramReplyLength = 3;
// Frames still queued when a run ends early: a whole block goes out in about 60 ms.
const int DrainLimitMs = 500;
// Replies still on their way arrive at least this often: behind a USB adapter the last partial
// packet waits for its latency timer (16 ms by default).
const int QuietLineMs = 20;
const int LeaveBypassGraceMs = 100;

void SendFrame(TargetCommand command, int address, unsigned char data)
{
    TargetFrame frame = MakeTargetFrame(command, address, data);
    TargetPort.Write(frame.Bytes, sizeof frame.Bytes);
}

// A stop request ends a transaction before its next frame: never inside a frame, and never
// between the bypass program cycle and the program frame it arms.
bool MayStartFrame()
{
    return !StopRequested();
}

// Why a transaction failed, when its reply did not come whole; a stop is no time-out.
void DiagnoseMissingReply(const char* operation, int address, int received, int expected)
{
    if (StopRequested())
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

// Surplus bytes are left queued on purpose: they will be taken as the next replies.
void WarnOfSurplus(const char* warning, int bytesInFlight = 0)
{
    if (TargetPort.QueryStatus(0) > static_cast<uint32_t>(bytesInFlight))
    {
        ShowMessage(warning);
    }
}

// Returns where the next frame goes.
unsigned char* PutFrame(unsigned char* at, TargetCommand command, int address, unsigned char data)
{
    TargetFrame frame = MakeTargetFrame(command, address, data);
    memcpy(at, frame.Bytes, sizeof frame.Bytes);
    return at + sizeof frame.Bytes;
}

// The largest blocks the limits below allow, both directions.
const int MaxProgramLength = PortQueueSize / ProgramReplyLength;
const int FrameLength = sizeof(TargetFrame);
unsigned char BlockFrames[MaxProgramLength * 2 * FrameLength];
unsigned char ProgramReplies[MaxProgramLength * ProgramReplyLength];

// All replies of a block wait in the receive queue until the last frame is out.
bool SendProgramFrames(int address, const unsigned char* data, int length)
{
    if (length < 0 || length > MaxProgramLength || !MayStartFrame())
    {
        return false;
    }
    unsigned char* frame = BlockFrames;
    for (int i = 0; i < length; ++i)
    {
        frame = PutFrame(frame, CommandWriteCycle, BypassProgram.Address, BypassProgram.Value);
        frame = PutFrame(frame, CommandProgram, address + i, data[i]);
    }
    TargetPort.Write(BlockFrames, length * 2 * FrameLength);
    return true;
}

// How far the replies have slipped when the read-back byte of pair i (at at) is wrong: a reply
// short or surplus puts the bytes written at other places. The next pair tells, where its
// replies are in: it is off too, and its byte sits at the same shift. 0 when the replies are not
// visibly out of step (a weak cell, say).
int ReplyShift(const unsigned char* data, int i, int length, int at, int received)
{
    const int shifts[] = {-1, 1, -2, 2};
    const int next = at + ProgramReplyLength;
    const bool nextIn = i + 1 < length && next + 2 < received;
    for (int shift : shifts)
    {
        const bool seen = nextIn ? ProgramReplies[next] != data[i + 1] &&
                                       ProgramReplies[next + shift] == data[i + 1]
                                 : at + shift > at - ProgramReplyLength && at + shift < received &&
                                       ProgramReplies[at + shift] == data[i];
        if (seen)
        {
            return shift;
        }
    }
    return 0;
}

void DiagnoseProgramError(int address, const unsigned char* data, int i, int length, int at,
                          int received)
{
    const int shift = ReplyShift(data, i, length, at, received);
    const int slip = shift < 0 ? -shift : shift;
    char step[80] = "";
    if (shift != 0)
    {
        snprintf(step, sizeof step, "; the replies are out of step, %d %s", slip,
                 shift < 0 ? (slip == 1 ? "byte short" : "bytes short")
                           : (slip == 1 ? "surplus byte" : "surplus bytes"));
    }
    Diagnose("program error at 0x%06X: third reply byte 0x%02X, expected 0x%02X%s", address + i,
             ProgramReplies[at], data[i], step);
}

// Replies are taken in as they come, each checked at once. Every reply gets ReadTimeoutMs of
// its own, counted from when the one before it was complete, as if each were read alone.
bool ReceiveProgramReplies(int address, const unsigned char* data, int length, int bytesInFlight)
{
    const int total = length * ProgramReplyLength;
    int received = 0;
    for (int i = 0; i < length; ++i)
    {
        const int end = (i + 1) * ProgramReplyLength;
        if (received < end)
        {
            received += TargetPort.ReadAvailable(ProgramReplies + received, end - received,
                                                 total - received);
            if (received < end)
            {
                DiagnoseMissingReply("program", address + i, received - (end - ProgramReplyLength),
                                     ProgramReplyLength);
                return false;
            }
        }
        const unsigned char readBack = ProgramReplies[end - 1];
        if (readBack != data[i])
        {
            ShowMessage("Program Error\n");
            DiagnoseProgramError(address, data, i, length, end - 1, received);
            return false;
        }
    }
    WarnOfSurplus("Prog More\n", bytesInFlight);
    return true;
}

int ProgramReplyBytes(const unsigned char* /*data*/, int length)
{
    return length * ProgramReplyLength;
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
    TargetPort.Write(BlockFrames, length * FrameLength);
    return true;
}

int ReadReplyBytes(const unsigned char* /*data*/, int length)
{
    return length;
}

// A block's read replies, length bytes into into.
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

// The image buffer holds the flash from address 0: a block's replies go to its place there.
bool ReceiveIntoImage(int address, const unsigned char* /*data*/, int length, int bytesInFlight)
{
    if (length < 0 || address < 0 || address + length > ImageCapacity ||
        !ReceiveReadBytes(address, ImageBuffer + address, length))
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

// Lets the frames sent go out, then waits at most graceMs until no more replies arrive, so
// that what is sent next meets none of them.
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

// Lets the frames sent go out, then waits at most graceMs until count reply bytes are queued.
void AwaitReplies(int count, int graceMs)
{
    DrainOutput(ClockMilliseconds() + DrainLimitMs);
    long long end = ClockMilliseconds() + graceMs;
    while (TargetPort.QueryStatus(0) < static_cast<uint32_t>(count) && ClockMilliseconds() < end)
    {
        PauseMilliseconds(1);
    }
}

} // namespace

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
    if (!MayStartFrame())
    {
        return false;
    }
    SendFrame(CommandRead, address, 0x00);
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
    if (!MayStartFrame())
    {
        return false;
    }
    SendFrame(CommandWriteCycle, address, value);
    unsigned char acknowledgement = 0;
    if (TargetPort.Read(&acknowledgement, 1) != 1)
    {
        DiagnoseMissingReply("write cycle", address, 0, 1);
        return false;
    }
    if (acknowledgement == 0xFF)
    {
        WarnOfSurplus("Write More \n");
    }
    return true;
}

bool ProgramBlock(int address, const unsigned char* data, int length)
{
    return SendProgramFrames(address, data, length) &&
           ReceiveProgramReplies(address, data, length, 0);
}

bool VerifyBlock(int address, const unsigned char* expected, int length)
{
    return SendReadFrames(address, expected, length) &&
           ReceiveVerifyReplies(address, expected, length, 0);
}

const CBlockTransaction ProgramTransaction = {SendProgramFrames, ReceiveProgramReplies,
                                              ProgramReplyBytes};
const CBlockTransaction VerifyTransaction = {SendReadFrames, ReceiveVerifyReplies, ReadReplyBytes};
const CBlockTransaction ReadBackTransaction = {SendReadFrames, ReceiveIntoImage, ReadReplyBytes};

bool SendSequence(const CCommandSequence& sequence)
{
    for (int i = 0; i < sequence.Count; ++i)
    {
        if (!WriteTargetCycle(sequence.Cycles[i].Address, sequence.Cycles[i].Value))
        {
            return false;
        }
    }
    return true;
}

void LeaveBypassAfterFailure()
{
    // The rest of a failed block's replies (and of the block ahead, when streaming) must not
    // pass for the answers to the leave cycles.
    AwaitQuietLine(LeaveBypassGraceMs);
    TargetPort.PurgeInput();
    for (int i = 0; i < LeaveBypass.Count; ++i)
    {
        SendFrame(CommandWriteCycle, LeaveBypass.Cycles[i].Address, LeaveBypass.Cycles[i].Value);
    }
    AwaitReplies(LeaveBypass.Count, LeaveBypassGraceMs);
}
