#include "target/Recovery.h"

#include "base/Clock.h"
#include "base/Diagnostic.h"
#include "base/Stop.h"
#include "serial/ComPort.h"
#include "target/Download.h"
#include "target/LinkFrames.h"

namespace
{

const int AfterFailureGraceMs = 100;
// A completed frame's reply is back within this, also behind a USB adapter's latency timer: a
// byte sent before it comes would shift the reader again.
const int RealignWaitMs = 50;
// How often a chip still erasing is asked whether it has finished.
const int IdlePollMs = 100;

// Whether a reply byte came within waitMs.
bool ReplyWithin(int waitMs)
{
    unsigned char reply = 0;
    return TargetPort.ReadWithin(&reply, 1, waitMs) == 1;
}

// Any reply to what was sent has had its time to come, and none is left queued: a program
// frame brings more than one byte, and a late one must not pass for the next reply.
void SettleReplies()
{
    if (ReplyWithin(RealignWaitMs))
    {
        AwaitQuietLine(AfterFailureGraceMs);
    }
    TargetPort.PurgeInput();
}

// Two reads of one address: a running erase toggles its status bits from read to read, an
// idle chip reads the same twice.
bool ReadsSteady(bool& steady)
{
    if (!MayStartFrame())
    {
        return false;
    }
    unsigned char* frame = PutFrame(BlockFrames, CommandRead, ErasePollAddress, 0x00);
    frame = PutFrame(frame, CommandRead, ErasePollAddress, 0x00);
    TargetPort.Write(BlockFrames, static_cast<int>(frame - BlockFrames));
    unsigned char values[2] = {};
    if (!ReceiveReadBytes(ErasePollAddress, values, 2))
    {
        return false;
    }
    steady = values[0] == values[1];
    return true;
}

} // namespace

bool RealignFrameReader(bool& outOfStep)
{
    AwaitQuietLine(AfterFailureGraceMs);
    TargetPort.PurgeInput();
    // Filler bytes complete whatever frame the reader holds without harm: a data byte of 0xFF
    // programs nothing and writes no flash command, and a frame of 0xFF is no command at all.
    // Whatever it held, it then holds (held + 4) mod 5 of them.
    const unsigned char filler[TargetFrameLength - 1] = {0xFF, 0xFF, 0xFF, 0xFF};
    TargetPort.Write(filler, sizeof filler);
    SettleReplies();
    // Zero bytes make a read frame: five are read at once after one filler byte held, else
    // they complete the filler (unanswered) and the read takes one more zero per filler byte.
    // In step, the reader held four fillers: the first zero after the five is answered. A
    // board that answers nothing gets whole frames only.
    const unsigned char zeros[TargetFrameLength] = {};
    for (int sent = 0; sent <= TargetFrameLength + 1; ++sent)
    {
        TargetPort.Write(zeros, sent == 0 ? TargetFrameLength : 1);
        if (ReplyWithin(RealignWaitMs))
        {
            AwaitQuietLine(AfterFailureGraceMs);
            TargetPort.PurgeInput();
            outOfStep = sent != 1;
            return true;
        }
    }
    return false;
}

namespace
{

// Whether the board answered; the cause of many a failure is said when it was out of step.
bool RealignAndTell()
{
    bool outOfStep = false;
    if (!RealignFrameReader(outOfStep))
    {
        return false;
    }
    if (outOfStep)
    {
        Warn("the board's frame reader was out of step; it has been realigned");
    }
    return true;
}

} // namespace

void RealignAfterFailure()
{
    RealignAndTell();
}

void SendSequenceAfterFailure(const CCommandSequence& sequence)
{
    // The rest of a failed block's replies (and of the block ahead, when streaming) must not
    // pass for the answers to these cycles.
    AwaitQuietLine(AfterFailureGraceMs);
    TargetPort.PurgeInput();
    PutSequenceFrames(sequence);
    AwaitReplies(sequence.Count, AfterFailureGraceMs);
}

void LeaveBypassAfterFailure()
{
    SendSequenceAfterFailure(LeaveBypass);
}

bool AwaitChipIdle()
{
    bool steady = false;
    if (!ReadsSteady(steady) || steady)
    {
        return !StopCutsShort();
    }
    Warn("the chip is still erasing: waiting for the erase to finish");
    const long long end = ClockMilliseconds() + ErasePollLimit * 1000LL;
    while (ClockMilliseconds() < end && !StopCutsShort())
    {
        PauseMilliseconds(IdlePollMs);
        if (!ReadsSteady(steady) || steady)
        {
            return !StopCutsShort();
        }
    }
    if (!StopCutsShort())
    {
        Diagnose("the chip's erase did not finish after %d s", ErasePollLimit);
    }
    return false;
}

bool RecoverBoard()
{
    if (!RealignAndTell())
    {
        return !StopCutsShort();
    }
    // Without acknowledgements the chip's question that follows tells the board has gone.
    return !SendSequence(ReturnToRead, 1) || AwaitChipIdle();
}

bool RecoverOnce(CBoardRun& run)
{
    if (!run.Recovered)
    {
        run.Recovered = true;
        return RecoverBoard();
    }
    return true;
}
