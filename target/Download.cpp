#include "target/Download.h"

#include "base/Clock.h"
#include "base/Diagnostic.h"
#include "base/Stop.h"
#include "image/Image.h"
#include "serial/ComPort.h"
#include "target/FlashCommands.h"
#include "target/Identify.h"
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

// Command cycles that share the stream of a block loop (--stream): Before goes out ahead of
// the first block and its acknowledgements are checked before the first figure; After follows
// the last block at once and is checked after the 100 line. Every cycle brings one reply byte,
// so their replies are told apart from the blocks' by count.
struct CCyclesAround
{
    const CCommandSequence* Before;
    const CCommandSequence* After;
};

const CCyclesAround NoCycles = {nullptr, nullptr};

struct CBlockStream
{
    const unsigned char* Image;
    const CBlockTransaction& Transaction;
    const CCyclesAround& Around;
    int Sent; // the blocks below this offset have gone out
    bool AfterSent;
};

bool SendCycles(const CCommandSequence* sequence)
{
    return sequence == nullptr || SendSequenceFrames(*sequence);
}

bool ReceiveCycles(const CCommandSequence* sequence, int bytesInFlight)
{
    return sequence == nullptr || ReceiveSequenceReplies(*sequence, bytesInFlight);
}

// Sends the blocks up to the one at offset that have not gone out yet, and After once the last
// one has.
bool SendUpTo(CBlockStream& stream, int offset)
{
    for (; stream.Sent <= offset && stream.Sent < ImageLength; stream.Sent += BlockSize)
    {
        if (!stream.Transaction.Send(stream.Sent, stream.Image + stream.Sent, BlockSize))
        {
            return false;
        }
    }
    if (stream.Sent < ImageLength || stream.AfterSent)
    {
        return true;
    }
    stream.AfterSent = true;
    return SendCycles(stream.Around.After);
}

// The reply bytes queued behind those of the block at offset, from what has gone out.
int RepliesBehind(const CBlockStream& stream, int offset)
{
    int bytes = stream.AfterSent && stream.Around.After != nullptr ? stream.Around.After->Count : 0;
    for (int later = offset + BlockSize; later < stream.Sent; later += BlockSize)
    {
        bytes += stream.Transaction.ReplyBytes(stream.Image + later, BlockSize);
    }
    return bytes;
}

// The one block loop: each block's transaction over image (ImageLength bytes), the figure drawn
// before it. With a look-ahead of 1 the frames of the next block go out while the replies of the
// current one are checked, so that the line never idles; a failure then leaves at most one block
// sent beyond it.
bool RunBlocks(const unsigned char* image, const CBlockTransaction& transaction, int lookAhead,
               const CCyclesAround& around)
{
    const int ahead = lookAhead * BlockSize;
    CBlockStream stream = {image, transaction, around, 0, false};
    if (!SendCycles(around.Before) || !SendUpTo(stream, ahead - BlockSize) ||
        !ReceiveCycles(around.Before, RepliesBehind(stream, -BlockSize)))
    {
        return false;
    }
    for (int offset = 0; offset < ImageLength; offset += BlockSize)
    {
        ShowBlock(offset, ImageLength);
        if (!SendUpTo(stream, offset + ahead) ||
            !transaction.Receive(offset, image + offset, BlockSize, RepliesBehind(stream, offset)))
        {
            return false;
        }
    }
    ShowStageDone();
    return ReceiveCycles(around.After, 0);
}

bool RunBlocks(const unsigned char* image, const CBlockTransaction& transaction)
{
    return RunBlocks(image, transaction, StreamMode ? 1 : 0, NoCycles);
}

void PauseUntil(long long start, long long dueMs)
{
    const long long left = dueMs - (ClockMilliseconds() - start);
    if (left > 0)
    {
        PauseMilliseconds(static_cast<int>(left));
    }
}

enum EEraseWait
{
    EraseDone,
    EraseFailed,
    // Two polls in a row read the same, and not erased: a running erase toggles its status bits
    // from read to read, so none is running. The first poll may be a frame out of step.
    EraseNotStarted,
};

// Polls address 0 until the chip reads erased. The console shows a "+" per second of polling
// and, at the end, what the one-second polls would have shown at the poll that saw the same:
// the marks taken back and " Ok". The last poll comes when the last one-second poll would.
// The first poll may have gone out already, right behind the erase cycles. With watchStart, an
// erase that is not running ends the wait at the poll that shows it, its marks taken back.
EEraseWait AwaitErased(const CPollSchedule& schedule, bool firstPollSent, bool watchStart)
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
            ShowErasePoll();
        }
        unsigned char value = 0;
        const bool answered = poll == 0 && firstPollSent
                                  ? ReceiveTargetByte(ErasePollAddress, value)
                                  : ReadTargetByte(ErasePollAddress, value);
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
            return answered ? EraseDone : EraseFailed;
        }
        if (watchStart && poll > 0 && value == last)
        {
            ShowErasePollsTakenBack(1 + poll / pollsPerMark);
            return EraseNotStarted;
        }
        last = value;
        if (!schedule.FixedGrid)
        {
            PauseMilliseconds(schedule.PeriodMs);
        }
    }
    PauseUntil(start, static_cast<long long>(ErasePollLimit) * OneSecondPolls.PeriodMs);
    ShowEraseEnd(ErasePollLimit, false);
    Diagnose("the chip erase did not finish after %d polls", ErasePollLimit);
    return EraseFailed;
}

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
    return AwaitErased(StreamMode ? StreamPolls : OneSecondPolls, StreamMode, watchStart);
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
        return RunBlocks(image, ProgramTransaction, 1, bypass);
    }
    return SendSequence(EnterBypass) && RunBlocks(image, ProgramTransaction, 0, NoCycles) &&
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
    const bool known = IdentifyChip(run.Chip);
    run.ChipRead = true;
    PrintChipIdentity(run.Chip);
    CRefusal refusal{};
    const int extent = (ImageLength + BlockSize - 1) / BlockSize * BlockSize;
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
// frame, nor after a chip that answered every frame) and, once the program stage's first cycle
// is out, the chip out of unlock bypass even if no reply came.
void RecoverFrom(EStage stage, const CBoardRun& run)
{
    // The chip's lines are whole lines: no stage line to end.
    const bool chipStage = stage == StageIdentify || stage == StageGuard;
    if (!chipStage)
    {
        ShowStageFailed();
    }
    if (!StopRequested() && (!chipStage || run.Chip.Outcome == EChipOutcome::NoReply))
    {
        RealignAfterFailure();
    }
    if (stage == StageProgram)
    {
        LeaveBypassAfterFailure();
    }
}

} // namespace

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
