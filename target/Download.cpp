#include "target/Download.h"

#include "app/Settings.h"
#include "image/Image.h"
#include "serial/ComPort.h"
#include "target/Clock.h"
#include "target/TargetLink.h"

#include <algorithm>
#include <cstdio>
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

using BlockTransaction = bool (*)(int address, const unsigned char* data, int length);

// Runs one stage's transaction over the image in blocks, drawing the progress figures.
bool ForEachBlock(BlockTransaction transaction)
{
    for (int offset = 0; offset < ImageLength; offset += BlockSize)
    {
        PrintProgress(offset);
        if (!transaction(offset, ImageBuffer + offset, BlockSize))
        {
            return false;
        }
    }
    PrintStageDone();
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
    for (int mark = 0; mark <= poll; ++mark)
    {
        printf("\b \b");
    }
    if (poll == ErasePollLimit)
    {
        return false;
    }
    printf("\b\b\b Ok\n");
    return true;
}

// A chip left in unlock bypass ignores the next run's chip erase until it is power-cycled.
// Best effort, so that a failing run does not get slower: the replies get a short grace only.
void LeaveBypassAfterFailure()
{
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
    if (SendCycles(EnterBypassCycles) && ForEachBlock(ProgramBlock) &&
        SendCycles(LeaveBypassCycles))
    {
        return true;
    }
    LeaveBypassAfterFailure();
    return false;
}

bool EraseAndProgram()
{
    PrintStageLabel("Erase");
    if (!EraseChip() || !AwaitErased() || !ProgramImage())
    {
        return false;
    }
    if (VerifyMode == ProgramAndVerify)
    {
        PrintStageLabel("Verify");
        return ForEachBlock(VerifyBlock);
    }
    return true;
}

void PrintElapsed(long start)
{
    int elapsed = static_cast<int>(ClockSeconds() - start);
    printf("Time  %d:%02d\n", elapsed / 60, elapsed % 60);
}

} // namespace

bool EraseChip()
{
    return SendCycles(ChipEraseCycles);
}

bool VerifyOnly()
{
    PrintStageLabel("Verify");
    if (!ForEachBlock(VerifyBlock))
    {
        PrintErrorMarker();
        return false;
    }
    return true;
}

bool RunDownload()
{
    long start = ClockSeconds();
    char mode[40];
    snprintf(mode, sizeof mode, "COM%d:115200,e,8,1", PortNumber);
    if (!TargetPort.Open(mode))
    {
        printf("Can't open COM%d\n", PortNumber);
        return false;
    }
    if (VerifyMode == VerifyWithoutProgramming)
    {
        return VerifyOnly();
    }
    bool succeeded = EraseAndProgram();
    if (!succeeded)
    {
        PrintErrorMarker();
    }
    PrintElapsed(start);
    return succeeded;
}
