#include "target/Download.h"

#include "app/Diagnostic.h"
#include "app/Settings.h"
#include "image/Image.h"
#include "serial/ComPort.h"
#include "target/Clock.h"
#include "target/TargetLink.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace
{

struct BusCycle
{
    int Address;
    unsigned char Value;
};

// AMD-style command sequences, sent one write cycle each.
const BusCycle ChipEraseCycles[] = {
    {0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0x80}, {0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0x10},
};
const BusCycle EnterBypassCycles[] = {{0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0x20}};
const BusCycle LeaveBypassCycles[] = {{0x333, 0x90}, {0x333, 0xF0}};

const unsigned char ErasedByte = 0xFF;
const int LeaveBypassGraceMs = 100;

// Stops at the first cycle that is not acknowledged; the rest are not sent.
template <size_t Count> bool SendCycles(const BusCycle (&cycles)[Count])
{
    return std::all_of(std::begin(cycles), std::end(cycles),
                       [](const BusCycle& cycle)
                       { return WriteTargetCycle(cycle.Address, cycle.Value); });
}

void PrintStageLabel(const char* label)
{
    EnterStage(label);
    printf("%-20s", label);
}

void PrintProgress(int offset)
{
    printf("\b\b\b\b\b%3d %s", static_cast<int>(offset * 100LL / ImageLength), "%");
}

void PrintStageDone()
{
    printf("\b\b\b\b\b%3d %s\n", 100, "%");
}

void PrintErrorMarker()
{
    printf("\b\b\b\b\b\b Error\n");
}

// Runs one stage's transaction over the image in blocks, drawing the progress figures.
bool ForEachBlock(const CBlockTransaction& transaction)
{
    for (int offset = 0; offset < ImageLength; offset += BlockSize)
    {
        PrintProgress(offset);
        const unsigned char* data = ImageBuffer + offset;
        if (!transaction.Send(offset, data, BlockSize) ||
            !transaction.Receive(offset, data, BlockSize, 0))
        {
            return false;
        }
    }
    PrintStageDone();
    return true;
}

// The same with the frames of the next block already going out while the replies of the
// current one are checked: the line never idles, and at most one block's replies are queued
// beyond the ones being checked. A failure leaves at most one block sent beyond it.
bool StreamBlocks(const CBlockTransaction& transaction)
{
    const int blockReplies = BlockSize * transaction.ReplyBytesPerDataByte;
    if (ImageLength > 0 && !transaction.Send(0, ImageBuffer, BlockSize))
    {
        return false;
    }
    for (int offset = 0; offset < ImageLength; offset += BlockSize)
    {
        PrintProgress(offset);
        const int next = offset + BlockSize;
        const bool more = next < ImageLength;
        if ((more && !transaction.Send(next, ImageBuffer + next, BlockSize)) ||
            !transaction.Receive(offset, ImageBuffer + offset, BlockSize, more ? blockReplies : 0))
        {
            return false;
        }
    }
    PrintStageDone();
    return true;
}

bool RunBlocks(const CBlockTransaction& transaction)
{
    return StreamMode ? StreamBlocks(transaction) : ForEachBlock(transaction);
}

// Draws what the one-second polls would have drawn by the time the polls end, at the poll
// that would have seen the same: one "+" per poll, then the erasures.
bool EndErasePolls(int poll, bool erased)
{
    for (int mark = 0; mark <= poll; ++mark)
    {
        printf("\b \b");
    }
    if (!erased)
    {
        return false;
    }
    printf("\b\b\b Ok\n");
    return true;
}

// Polls address 0 until the chip reads erased, drawing a "+" per poll.
bool AwaitErased()
{
    int poll = 0;
    for (; poll < ErasePollLimit; ++poll)
    {
        printf("+");
        unsigned char value = 0;
        if (!ReadTargetByte(0, value))
        {
            return false;
        }
        if (value == ErasedByte)
        {
            break;
        }
        PauseMilliseconds(ErasePollPauseMs);
    }
    return EndErasePolls(poll, poll < ErasePollLimit);
}

void PauseUntil(long long start, long long dueMs)
{
    const long long left = dueMs - (ClockMilliseconds() - start);
    if (left > 0)
    {
        PauseMilliseconds(static_cast<int>(left));
    }
}

// The same, asking every 100 ms on a fixed schedule while the console shows the one-second
// polls: a "+" at each whole second, and at the end the marks and erasures of the one-second
// poll that would have seen the same outcome. The last poll comes when the last one-second
// poll would have.
bool AwaitErasedQuickly()
{
    const int pollsPerMark = ErasePollPauseMs / StreamPollPauseMs;
    const int lastPoll = (ErasePollLimit - 1) * pollsPerMark;
    const long long start = ClockMilliseconds();
    for (int poll = 0; poll <= lastPoll; ++poll)
    {
        PauseUntil(start, static_cast<long long>(poll) * StreamPollPauseMs);
        const bool onMark = poll % pollsPerMark == 0;
        if (onMark)
        {
            printf("+");
        }
        unsigned char value = 0;
        const bool answered = ReadTargetByte(0, value);
        if (!answered || value == ErasedByte)
        {
            if (!onMark)
            {
                printf("+");
            }
            return answered && EndErasePolls((poll + pollsPerMark - 1) / pollsPerMark, true);
        }
    }
    PauseUntil(start, static_cast<long long>(ErasePollLimit) * ErasePollPauseMs);
    return EndErasePolls(ErasePollLimit, false);
}

// A chip left in unlock bypass ignores the next run's chip erase until it is power-cycled.
// Best effort, so that a failing run does not get slower: the replies get a short grace only.
void LeaveBypassAfterFailure()
{
    // The rest of a failed block's replies (and of the block ahead, when streaming) must not
    // pass for the answers to the leave cycles.
    AwaitQuietLine(LeaveBypassGraceMs);
    TargetPort.PurgeInput();
    for (const BusCycle& cycle : LeaveBypassCycles)
    {
        SendCycleUnacknowledged(cycle.Address, cycle.Value);
    }
    AwaitReplies(static_cast<int>(std::size(LeaveBypassCycles)), LeaveBypassGraceMs);
}

bool ProgramImage()
{
    PrintStageLabel("Program");
    // Once the first cycle is out the chip may be in bypass mode, even if no reply came.
    if (SendCycles(EnterBypassCycles) && RunBlocks(ProgramTransaction) &&
        SendCycles(LeaveBypassCycles))
    {
        return true;
    }
    LeaveBypassAfterFailure();
    return false;
}

bool EraseAndAwait()
{
    PrintStageLabel("Erase");
    return EraseChip() && (StreamMode ? AwaitErasedQuickly() : AwaitErased());
}

bool EraseAndProgram()
{
    if (!EraseAndAwait() || !ProgramImage())
    {
        return false;
    }
    if (VerifyMode == ProgramAndVerify)
    {
        PrintStageLabel("Verify");
        return RunBlocks(VerifyTransaction);
    }
    return true;
}

void PrintElapsed(long start)
{
    int elapsed = static_cast<int>(ClockSeconds() - start);
    printf("Time  %d:%02d\n", elapsed / 60, elapsed % 60);
}

bool OpenTargetPort()
{
    EnterStage("Port");
    char mode[40];
    snprintf(mode, sizeof mode, "COM%d:115200,e,8,1", PortNumber);
    if (!TargetPort.Open(mode))
    {
        printf("Can't open COM%d\n", PortNumber);
        return false;
    }
    return true;
}

// The shape every stage run shares once the port is open: the Error line on failure, then
// the time line.
bool RunTimedStages(long start, bool (*stages)())
{
    bool succeeded = stages();
    if (!succeeded)
    {
        PrintErrorMarker();
    }
    PrintElapsed(start);
    return succeeded;
}

// The image buffer holds the flash from address 0: a block's replies go to its place there.
bool ReceiveIntoImage(int address, const unsigned char* /*block*/, int length, int bytesInFlight)
{
    return ReceiveReadReplies(address, ImageBuffer + address, length, bytesInFlight);
}

const CBlockTransaction ReadBackTransaction = {SendReadFrames, ReceiveIntoImage, 1};

bool ReadImageBack()
{
    PrintStageLabel("Read");
    return RunBlocks(ReadBackTransaction);
}

} // namespace

bool EraseChip()
{
    return SendCycles(ChipEraseCycles);
}

bool VerifyOnly()
{
    PrintStageLabel("Verify");
    if (!RunBlocks(VerifyTransaction))
    {
        PrintErrorMarker();
        return false;
    }
    return true;
}

bool RunDownload()
{
    long start = ClockSeconds();
    if (!OpenTargetPort())
    {
        return false;
    }
    if (VerifyMode == VerifyWithoutProgramming)
    {
        return VerifyOnly();
    }
    return RunTimedStages(start, EraseAndProgram);
}

bool RunReadBack()
{
    long start = ClockSeconds();
    memset(ImageBuffer, ErasedByte, sizeof ImageBuffer);
    ImageLength = ReadSize;
    return OpenTargetPort() && RunTimedStages(start, ReadImageBack);
}

bool RunErase()
{
    long start = ClockSeconds();
    return OpenTargetPort() && RunTimedStages(start, EraseAndAwait);
}
