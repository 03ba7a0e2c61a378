#pragma once

#include "target/BlockLoop.h"
#include "target/BoardRun.h"
#include "target/RunPlan.h"

const int ErasePollLimit = 35;

// How the erase poll asks: every PeriodMs, the pause after each answer (drifting with the
// replies) or on a fixed grid from the first poll. The console shows the one-second polls
// either way.
struct CPollSchedule
{
    int PeriodMs;
    bool FixedGrid;
};

const CPollSchedule OneSecondPolls = {1000, false};
const CPollSchedule StreamPolls = {100, true};

enum EEraseWait
{
    EraseDone,
    EraseFailed,
    // Two polls in a row read the same, and not erased: a running erase toggles its status bits
    // from read to read, so none is running. The first poll may be a frame out of step.
    EraseNotStarted,
};

// How an erase is waited for: the polls read PollAddress, inside what is erased; the first may
// have gone out already, right behind the erase cycles. WatchStart ends the wait at the poll
// that shows no erase running. Marks: the console shows the erase's marks and " Ok" (a
// stage with a figure of its own shows none). Erasing names it in the time-out's message.
struct CEraseWatch
{
    int PollAddress;
    bool FirstPollSent;
    bool WatchStart;
    bool Marks;
    const char* Erasing;
};

// Polls until the erase has ended and the poll address reads erased, ErasePollLimit seconds at
// most.
EEraseWait AwaitErased(const CPollSchedule& schedule, const CEraseWatch& watch);

// Opens TargetPort and runs the stages of RunMode: erase, program and (with -v) verify the
// image, verify it only, read the flash into the image buffer, or erase the chip. Returns true
// when every stage succeeded.
bool RunDownload(CBoardRun& run);
// Opens TargetPort for COM<PortNumber>, or prints "Can't open COMn".
bool OpenTargetPort();
// The same without the message: for a port whose device is expected back.
bool ReopenTargetPort();
// The stages of mode on the open port for run (after its serial number's line, when it has one),
// the Error marker after the first that fails, then the time line since start (ClockSeconds)
// when the mode shows one. True when every stage succeeded.
bool RunStages(const CRunMode& mode, CBoardRun& run, long start);
// The stage's name for the record and its label on the console.
void BeginStage(const char* label);
// One stage under its label on the open port.
bool RunStage(EStage stage, CBoardRun& run);
