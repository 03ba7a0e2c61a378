#include "target/Download.h"

#include "base/Clock.h"
#include "base/Diagnostic.h"
#include "image/Image.h"
#include "serial/ComPort.h"
#include "target/FlashCommands.h"
#include "target/Progress.h"
#include "target/TargetLink.h"

#include <cstdio>
#include <cstring>

namespace
{

void BeginStage(const char* label)
{
    EnterStage(label);
    ShowStage(label);
}

// The one block loop: each block's transaction over the image, the figure drawn before it.
// With a look-ahead of 1 the frames of the next block go out while the replies of the current
// one are checked, so that the line never idles; a failure then leaves at most one block sent
// beyond it.
bool RunBlocks(const CBlockTransaction& transaction, int lookAhead)
{
    const int ahead = lookAhead * BlockSize;
    for (int offset = 0; offset < ahead && offset < ImageLength; offset += BlockSize)
    {
        if (!transaction.Send(offset, ImageBuffer + offset, BlockSize))
        {
            return false;
        }
    }
    for (int offset = 0; offset < ImageLength; offset += BlockSize)
    {
        ShowBlock(offset, ImageLength);
        const int next = offset + ahead;
        if (next < ImageLength && !transaction.Send(next, ImageBuffer + next, BlockSize))
        {
            return false;
        }
        int inFlight = 0;
        for (int later = offset + BlockSize; later <= next && later < ImageLength;
             later += BlockSize)
        {
            inFlight += transaction.ReplyBytes(ImageBuffer + later, BlockSize);
        }
        if (!transaction.Receive(offset, ImageBuffer + offset, BlockSize, inFlight))
        {
            return false;
        }
    }
    ShowStageDone();
    return true;
}

bool RunBlocks(const CBlockTransaction& transaction)
{
    return RunBlocks(transaction, StreamMode ? 1 : 0);
}

void PauseUntil(long long start, long long dueMs)
{
    const long long left = dueMs - (ClockMilliseconds() - start);
    if (left > 0)
    {
        PauseMilliseconds(static_cast<int>(left));
    }
}

// Polls address 0 until the chip reads erased. The console shows a "+" per second of polling
// and, at the end, what the one-second polls would have shown at the poll that saw the same:
// the marks taken back and " Ok". The last poll comes when the last one-second poll would.
bool AwaitErased(const CPollSchedule& schedule)
{
    const int pollsPerMark = OneSecondPolls.PeriodMs / schedule.PeriodMs;
    const int lastPoll = (ErasePollLimit - 1) * pollsPerMark;
    const long long start = ClockMilliseconds();
    for (int poll = 0; poll <= lastPoll; ++poll)
    {
        if (schedule.FixedGrid)
        {
            PauseUntil(start, static_cast<long long>(poll) * schedule.PeriodMs);
        }
        const bool onMark = poll % pollsPerMark == 0;
        if (onMark)
        {
            ShowErasePoll();
        }
        unsigned char value = 0;
        const bool answered = ReadTargetByte(ErasePollAddress, value);
        if (!answered || value == ErasedByte)
        {
            if (!onMark)
            {
                ShowErasePoll();
            }
            if (answered)
            {
                ShowEraseEnd((poll + pollsPerMark - 1) / pollsPerMark, true);
            }
            return answered;
        }
        if (!schedule.FixedGrid)
        {
            PauseMilliseconds(schedule.PeriodMs);
        }
    }
    PauseUntil(start, static_cast<long long>(ErasePollLimit) * OneSecondPolls.PeriodMs);
    ShowEraseEnd(ErasePollLimit, false);
    Diagnose("the chip erase did not finish after %d polls", ErasePollLimit);
    return false;
}

bool EraseAndAwait()
{
    BeginStage("Erase");
    return EraseChip() && AwaitErased(StreamMode ? StreamPolls : OneSecondPolls);
}

bool ProgramImage()
{
    BeginStage("Program");
    // Once the first cycle is out the chip may be in bypass mode, even if no reply came.
    if (SendSequence(EnterBypass) && RunBlocks(ProgramTransaction) && SendSequence(LeaveBypass))
    {
        return true;
    }
    LeaveBypassAfterFailure();
    return false;
}

bool VerifyImage()
{
    BeginStage("Verify");
    return RunBlocks(VerifyTransaction);
}

// The image buffer holds the flash from address 0, erased bytes past what is read.
bool ReadImage()
{
    memset(ImageBuffer, ErasedByte, sizeof ImageBuffer);
    ImageLength = ReadSize;
    BeginStage("Read");
    return RunBlocks(ReadBackTransaction);
}

} // namespace

bool RunStage(EStage stage)
{
    switch (stage)
    {
    case StageErase:
        return EraseAndAwait();
    case StageProgram:
        return ProgramImage();
    case StageVerify:
        return VerifyImage();
    case StageRead:
        return ReadImage();
    case NoStage:
        break;
    }
    return false;
}

bool ReopenTargetPort()
{
    char mode[40];
    snprintf(mode, sizeof mode, "COM%d:115200,e,8,1", PortNumber);
    return TargetPort.Open(mode);
}

bool OpenTargetPort()
{
    EnterStage("Port");
    if (!ReopenTargetPort())
    {
        ShowPortFailure(PortNumber);
        return false;
    }
    return true;
}

bool RunStages(const CRunMode& mode, long start)
{
    bool succeeded = true;
    for (int i = 0; i < 3 && mode.Stages[i] != NoStage && succeeded; ++i)
    {
        succeeded = RunStage(mode.Stages[i]);
    }
    if (!succeeded)
    {
        ShowStageFailed();
    }
    if (mode.ShowsTime)
    {
        ShowElapsed(ClockSeconds() - start);
    }
    return succeeded;
}

bool RunDownload()
{
    long start = ClockSeconds();
    return OpenTargetPort() && RunStages(*RunMode, start);
}

bool VerifyOnly()
{
    return RunStages(VerifyRun, ClockSeconds());
}

bool EraseChip()
{
    return SendSequence(ChipErase);
}
