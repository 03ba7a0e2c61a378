#include "target/RunPlan.h"

#include "base/Clock.h"
#include "base/Diagnostic.h"
#include "serial/ComPort.h"
#include "target/Download.h"
#include "target/Progress.h"

#include <cstdio>

int VerifyMode = ProgramOnly;
int PortNumber = 1;
bool StreamMode = false;
int ReadSize = MaxReadSize;

const CRunMode ProgramRun = {
    "program",
    "\nFirmware upgraded, press any key to continue",
    {StageErase, StageProgram},
    2,
    true,
    true,
};
const CRunMode ProgramVerifyRun = {
    "program-verify",
    "\nFirmware upgraded, press any key to continue",
    {StageErase, StageProgram, StageVerify},
    3,
    true,
    true,
};
// Verify only has no time line: it changes nothing on the board.
const CRunMode VerifyRun = {
    "verify", "\nFirmware upgraded, press any key to continue", {StageVerify}, 1, false, true,
};
const CRunMode ReadRun = {"read", "\nFlash saved, press any key to continue", {StageRead}, 1, true,
                          false};
const CRunMode EraseRun = {
    "erase", "\nChip erased, press any key to continue", {StageErase}, 1, true, false};

const CRunMode* RunMode = &ProgramRun;

const CRunMode& DownloadMode(int verifyMode)
{
    return verifyMode == ProgramAndVerify           ? ProgramVerifyRun
           : verifyMode == VerifyWithoutProgramming ? VerifyRun
                                                    : ProgramRun;
}

bool OpenTargetPort()
{
    EnterStage("Port");
    char mode[40];
    snprintf(mode, sizeof mode, "COM%d:115200,e,8,1", PortNumber);
    if (!TargetPort.Open(mode))
    {
        ShowPortFailure(PortNumber);
        return false;
    }
    return true;
}

bool RunStages(const CRunMode& mode, long start)
{
    bool succeeded = true;
    for (int i = 0; i < mode.StageCount && succeeded; ++i)
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
