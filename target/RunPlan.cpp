#include "target/RunPlan.h"

int VerifyMode = ProgramOnly;
int PortNumber = 1;
bool StreamMode = false;
bool SkipBlank = false;
int ReadSize = MaxReadSize;
const char* JournalFolderOption = nullptr;

namespace
{

const char* const Upgraded = "\nFirmware upgraded";
const char* const Saved = "\nFlash saved";
const char* const Erased = "\nChip erased";
const char* const Identified = "\nChip identified";

} // namespace

// Name, verdict, stages, whether a time line follows, whether an image is loaded, and the
// verdict when nothing changed. Verify only shows no time line: it changes nothing on the board.
const CRunMode ProgramRun = {"program", Upgraded, {StageErase, StageProgram}, true, true};
const CRunMode ProgramVerifyRun = {
    "program-verify", Upgraded, {StageErase, StageProgram, StageVerify}, true, true};
const CRunMode VerifyRun = {"verify", Upgraded, {StageVerify}, false, true};
const CRunMode ReadRun = {"read", Saved, {StageRead}, true, false};
const CRunMode EraseRun = {"erase", Erased, {StageErase}, true, false};
const CRunMode IdentifyRun = {"identify", Identified, {StageIdentify}, true, false};
const CRunMode UpdateRun = {
    "update",
    Upgraded,
    {StageGuard, StageUpdateRead, StageSectorErase, StageUpdateProgram, StageUpdateVerify},
    true,
    true,
    "\nFirmware already up to date"};

namespace
{

const CRunMode GuardedProgramRun = {
    "program", Upgraded, {StageGuard, StageErase, StageProgram}, true, true};
const CRunMode GuardedProgramVerifyRun = {
    "program-verify", Upgraded, {StageGuard, StageErase, StageProgram, StageVerify}, true, true};
const CRunMode GuardedVerifyRun = {"verify", Upgraded, {StageGuard, StageVerify}, false, true};

} // namespace

const CRunMode* RunMode = &ProgramRun;

const CRunMode& DownloadMode(int verifyMode, bool guarded)
{
    if (guarded)
    {
        return verifyMode == ProgramAndVerify           ? GuardedProgramVerifyRun
               : verifyMode == VerifyWithoutProgramming ? GuardedVerifyRun
                                                        : GuardedProgramRun;
    }
    return verifyMode == ProgramAndVerify           ? ProgramVerifyRun
           : verifyMode == VerifyWithoutProgramming ? VerifyRun
                                                    : ProgramRun;
}
