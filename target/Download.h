#pragma once

#include "target/BoardRun.h"
#include "target/RunPlan.h"

const int BlockSize = 64;
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
// One stage under its label on the open port.
bool RunStage(EStage stage, CBoardRun& run);
