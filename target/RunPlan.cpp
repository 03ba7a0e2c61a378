#include "target/RunPlan.h"

int VerifyMode = ProgramOnly;
int PortNumber = 1;
bool StreamMode = false;
bool SkipBlank = false;
int ReadSize = MaxReadSize;

namespace
{

const char* const Upgraded = "\nFirmware upgraded";
const char* const Saved = "\nFlash saved";
const char* const Erased = "\nChip erased";

} // namespace

// Name, verdict, stages, whether a time line follows, whether an image is loaded. Verify only
// shows no time line: it changes nothing on the board.
const CRunMode ProgramRun = {"program", Upgraded, {StageErase, StageProgram}, true, true};
const CRunMode ProgramVerifyRun = {
    "program-verify", Upgraded, {StageErase, StageProgram, StageVerify}, true, true};
const CRunMode VerifyRun = {"verify", Upgraded, {StageVerify}, false, true};
const CRunMode ReadRun = {"read", Saved, {StageRead}, true, false};
const CRunMode EraseRun = {"erase", Erased, {StageErase}, true, false};

const CRunMode* RunMode = &ProgramRun;

const CRunMode& DownloadMode(int verifyMode)
{
    return verifyMode == ProgramAndVerify           ? ProgramVerifyRun
           : verifyMode == VerifyWithoutProgramming ? VerifyRun
                                                    : ProgramRun;
}
