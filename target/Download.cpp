#include "target/Download.h"

#include "base/Clock.h"
#include "base/Diagnostic.h"
#include "base/Stop.h"
#include "image/Image.h"
#include "serial/ComPort.h"
#include "target/BlockLoop.h"
#include "target/FlashCommands.h"
#include "target/Identify.h"
#include "target/Progress.h"
#include "target/Recovery.h"
#include "target/TargetLink.h"
#include "target/Update.h"

#include <cstdio>
#include <cstring>

namespace
{

bool RunBlocks(const unsigned char* image, const CBlockTransaction& transaction)
{
    return RunImageBlocks(image, transaction, StreamMode ? 1 : 0, NoCycles);
}

void PauseUntil(long long start, long long dueMs)
{
    const long long left = dueMs - (ClockMilliseconds() - start);
    if (left > 0)
    {
        PauseMilliseconds(static_cast<int>(left));
    }
}

// The console's marks of an erase wait, when it shows them.
void ShowPoll(const CEraseWatch& watch)
{
    if (watch.Marks)
    {
        ShowErasePoll();
    }
}

void ShowEnd(const CEraseWatch& watch, int marks, bool erased)
{
    if (watch.Marks)
    {
        ShowEraseEnd(marks, erased);
    }
}

} // namespace

// The console shows a "+" per second of polling and, at the end, what the one-second polls
// would have shown at the poll that saw the same: the marks taken back and " Ok". The last poll
// comes when the last one-second poll would.
EEraseWait AwaitErased(const CPollSchedule& schedule, const CEraseWatch& watch)
{
    const int pollsPerMark = OneSecondPolls.PeriodMs / schedule.PeriodMs;
    const int lastPoll = (ErasePollLimit - 1) * pollsPerMark;
    const long long start = ClockMilliseconds();
    unsigned char last = 0;
    for (int poll = 0; poll <= lastPoll; ++poll)
    {
        if (schedule.FixedGrid)
        {
            PauseUntil(start, static_cast<long long>(poll) * schedule.PeriodMs);
        }
        const bool onMark = poll % pollsPerMark == 0;
        if (onMark)
        {
            ShowPoll(watch);
        }
        unsigned char value = 0;
        const bool answered = poll == 0 && watch.FirstPollSent
                                  ? ReceiveTargetByte(watch.PollAddress, value)
                                  : ReadTargetByte(watch.PollAddress, value);
        if (!answered || value == ErasedByte)
        {
            if (!onMark)
            {
                ShowPoll(watch);
            }
            if (answered)
            {
                ShowEnd(watch, (poll + pollsPerMark - 1) / pollsPerMark, true);
            }
            return answered ? EraseDone : EraseFailed;
        }
        if (watch.WatchStart && poll > 0 && value == last)
        {
            if (watch.Marks)
            {
                ShowErasePollsTakenBack(1 + poll / pollsPerMark);
            }
            return EraseNotStarted;
        }
        last = value;
        if (!schedule.FixedGrid)
        {
            PauseMilliseconds(schedule.PeriodMs);
        }
    }
    PauseUntil(start, static_cast<long long>(ErasePollLimit) * OneSecondPolls.PeriodMs);
    ShowEnd(watch, ErasePollLimit, false);
    Diagnose("%s did not finish after %d polls", watch.Erasing, ErasePollLimit);
    return EraseFailed;
}

namespace
{

// The chip erase cycles; with --stream the first poll goes out right behind them: one round
// trip for both.
bool SendChipErase()
{
    if (!StreamMode)
    {
        return SendSequence(ChipErase);
    }
    return SendSequenceFrames(ChipErase) && SendTargetRead(ErasePollAddress) &&
           ReceiveSequenceReplies(ChipErase, 1);
}

EEraseWait EraseOnce(bool watchStart)
{
    if (!SendChipErase())
    {
        return EraseFailed;
    }
    const CEraseWatch watch = {ErasePollAddress, StreamMode, watchStart, true, "the chip erase"};
    return AwaitErased(StreamMode ? StreamPolls : OneSecondPolls, watch);
}

// An erase that never started: the chip ignored its cycles in unlock bypass (a run killed while
// programming), or the board's frame reader was out of step and every frame still got a reply.
// Both are mended without a power cycle, and the erase goes out once more.
bool EraseAndAwait()
{
    BeginStage("Erase");
    EEraseWait wait = EraseOnce(true);
    if (wait == EraseNotStarted)
    {
        bool outOfStep = false;
        RealignFrameReader(outOfStep);
        Warn("the chip erase did not start (%s); the chip has been reset and the erase sent again",
             outOfStep ? "the board's frame reader was out of step, now realigned"
                       : "the chip was left in unlock-bypass mode, or ignored the erase");
        wait =
            SendSequence(LeaveBypass) && SendSequence(ReadReset) ? EraseOnce(false) : EraseFailed;
    }
    return wait == EraseDone;
}

// The bypass cycles wait for their replies one by one, or (--stream) share the blocks' stream.
bool ProgramInBypass(const unsigned char* image)
{
    if (StreamMode)
    {
        const CCyclesAround bypass = {&EnterBypass, &LeaveBypass};
        return RunImageBlocks(image, ProgramTransaction, 1, bypass);
    }
    return SendSequence(EnterBypass) && RunImageBlocks(image, ProgramTransaction, 0, NoCycles) &&
           SendSequence(LeaveBypass);
}

bool ProgramImage(const unsigned char* image)
{
    BeginStage("Program");
    return ProgramInBypass(image);
}

bool VerifyImage(const unsigned char* image)
{
    BeginStage("Verify");
    return RunBlocks(image, VerifyTransaction);
}

// The image buffer holds the flash from address 0, erased bytes past what is read.
bool ReadImage()
{
    memset(ImageBuffer, ErasedByte, sizeof ImageBuffer);
    ImageLength = ReadSize;
    BeginStage("Read");
    return RunBlocks(ImageBuffer, ReadBackTransaction);
}

// The chip on the board, told on the console; guarded, also whether the image may go into it:
// a wrong part, a dead socket or a protected sector is found before anything is erased.
bool IdentifyOnBoard(CBoardRun& run, bool guarded)
{
    EnterStage("Identify");
    if (!RecoverOnce(run))
    {
        // An erase left running that never ends: the chip cannot answer.
        if (!StopRequested())
        {
            run.Chip.Reason = "the chip is still erasing";
            PrintChipIdentity(run.Chip);
        }
        return false;
    }
    const bool known = IdentifyChip(run.Chip);
    run.ChipRead = true;
    PrintChipIdentity(run.Chip);
    CRefusal refusal{};
    // A download cuts a longer file at the buffer's end; an update must not: it keeps what lies
    // past the image.
    const int extent = RunMode == &UpdateRun
                           ? (ImageCutShort ? ImageCapacity + 1 : ImageLength)
                           : (ImageLength + BlockSize - 1) / BlockSize * BlockSize;
    const char* refused = !known    ? run.Chip.Reason
                          : guarded ? RefuseToFlash(run.Chip, 0, extent, refusal)
                                    : nullptr;
    // A board that stopped answering has been told why already.
    if (refused != nullptr && run.Chip.Outcome != EChipOutcome::NoReply)
    {
        Diagnose("%s", refused);
    }
    return refused == nullptr;
}

// Ends the console line of the stage that failed with the Error marker, and leaves the board
// ready for the next run: its frame reader realigned (not after a stop, which never cuts a
// frame, nor after a chip that answered every frame), once the program stage's first cycle is
// out, the chip out of unlock bypass even if no reply came, and the bytes an update kept from
// the board put back.
void RecoverFrom(EStage stage, CBoardRun& run)
{
    // The chip's lines are whole lines: no stage line to end.
    const bool chipStage = stage == StageIdentify || stage == StageGuard;
    if (!chipStage)
    {
        ShowStageFailed();
    }
    const bool lineFault =
        run.Chip.Outcome == EChipOutcome::NoReply || run.Chip.Outcome == EChipOutcome::Unsteady;
    if (!StopRequested() && (!chipStage || lineFault))
    {
        RealignAfterFailure();
    }
    if (stage == StageProgram || stage == StageUpdateProgram)
    {
        LeaveBypassAfterFailure();
    }
    PutBackAfterFailure(run);
}

} // namespace

void BeginStage(const char* label)
{
    EnterStage(label);
    ShowStage(label);
}

bool RunStage(EStage stage, CBoardRun& run)
{
    switch (stage)
    {
    case StageErase:
        return EraseAndAwait();
    case StageProgram:
    {
        const int skippedBefore = SkippedBytesTotal;
        const bool programmed = ProgramImage(run.Image);
        run.SkippedBytes += SkippedBytesTotal - skippedBefore;
        return programmed;
    }
    case StageVerify:
        return VerifyImage(run.Image);
    case StageRead:
        return ReadImage();
    case StageUpdateRead:
    case StageSectorErase:
    case StageUpdateProgram:
    case StageUpdateVerify:
        return RunUpdateStage(stage, run);
    case StageIdentify:
    case StageGuard:
        return IdentifyOnBoard(run, stage == StageGuard);
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

bool RunStages(const CRunMode& mode, CBoardRun& run, long start)
{
    if (run.HasSerial)
    {
        ShowSerialNumber(run.Serial);
    }
    bool succeeded = true;
    int i = 0;
    for (; i < MaxStages && mode.Stages[i] != NoStage && succeeded; ++i)
    {
        succeeded = RunStage(mode.Stages[i], run);
    }
    if (!succeeded)
    {
        RecoverFrom(mode.Stages[i - 1], run);
    }
    if (mode.ShowsTime)
    {
        ShowElapsed(ClockSeconds() - start);
    }
    return succeeded;
}

bool RunDownload(CBoardRun& run)
{
    long start = ClockSeconds();
    return OpenTargetPort() && RunStages(*RunMode, run, start);
}
