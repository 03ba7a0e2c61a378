#include "app/Outcome.h"

#include "app/RunRecord.h"
#include "app/SerialNumber.h"
#include "app/Settings.h"
#include "base/Clock.h"
#include "base/ConsoleOut.h"
#include "base/Diagnostic.h"
#include "base/Stop.h"
#include "image/Image.h"
#include "target/Download.h"

#include <cstdio>

namespace
{

const char* const OkBanner[] = {
    "\n           OOOOOO       K    K", "\n           O    O       K   K",
    "\n           O    O       K  K",   "\n           O    O       KKK",
    "\n           O    O       K  K",   "\n           O    O       K   K",
    "\n           OOOOOO       K    K",
};

const char* const NgBanner[] = {
    "\n           N    N       GGGGGGG", "\n           NN   N       G     G",
    "\n           N N  N       G      ", "\n           N  N N       G  GGGG",
    "\n           N   NN       G     G", "\n           N   NN       G     G",
    "\n           N    N       GGGGGGG",
};

const char* const KeyPrompt = ", press any key to continue";

// Only the work on the board turns signals into stop requests: before it (a FIFO image that
// waits for its writer) and after it (saving a read-back, the key wait) they act as usual. The
// board's serial number is taken once the port is open, right before the first frame.
bool DownloadUntilStopped(CBoardRun& run)
{
    CatchStopRequests();
    const long start = ClockSeconds();
    bool succeeded = OpenTargetPort() && TakeSerialNumber(run);
    if (succeeded)
    {
        TellRunStart(run);
        succeeded = RunStages(*RunMode, run, start);
    }
    ReleaseStopRequests();
    return succeeded;
}

} // namespace

void StartUp()
{
    ConsoleText("Orbelt UART Download Utility.   %s %s\n\n", __DATE__, __TIME__);
}

void PrintResultBanner(bool ok)
{
    ConsoleText("\n");
    for (const char* line : ok ? OkBanner : NgBanner)
    {
        ConsoleText("%s", line);
    }
    ConsoleText("\n");
}

void PrintVerdict(const CBoardRun& run, bool ok)
{
    const char* verdict = !ok                                             ? "\nError encountered"
                          : run.UpToDate && RunMode->Unchanged != nullptr ? RunMode->Unchanged
                                                                          : RunMode->Verdict;
    ConsoleText("%s%s", verdict, StationMode ? "" : KeyPrompt);
}

namespace
{

// The file is made ready first: a path that cannot be written must not cost a whole read.
bool ReadFlashIntoFile(CBoardRun& run)
{
    RecordImagePath(ReadPath);
    EnterStage("Save");
    if (!PrepareSaveImage(ReadPath))
    {
        return false;
    }
    if (!DownloadUntilStopped(run))
    {
        AbandonSaveImage();
        return false;
    }
    RecordImageBytes();
    EnterStage("Save");
    return SaveImage(ReadPath);
}

bool DownloadImage(const char* fileName, CBoardRun& run)
{
    return LoadNamedImage(fileName) && CheckSerialNumbers() && DownloadUntilStopped(run);
}

} // namespace

bool LoadNamedImage(const char* fileName)
{
    if (fileName == nullptr)
    {
        NoteReason("missing file name");
        ConsoleText("missing file name\n");
        return false;
    }
    RecordImagePath(fileName);
    EnterStage("Image");
    if (!LoadImage(fileName))
    {
        return false;
    }
    RecordImageBytes();
    return true;
}

bool FinishRun(CBoardRun& run, bool result)
{
    if (!result && StopRequested())
    {
        Diagnose("stopped by signal %d", StopSignal());
    }
    if (!AppendRunRecord(run, result))
    {
        run.RecordLost = true;
        result = false;
    }
    TellRunEnd(run, result);
    PrintResultBanner(result);
    PrintVerdict(run, result);
    return result;
}

bool RunFromArguments(const CArguments& arguments, CBoardRun& run)
{
    EnterStage("Arguments");
    if (!AcceptArguments(arguments) || !OpenRunRecord())
    {
        return false;
    }
    if (RunMode == &ReadRun)
    {
        return ReadFlashIntoFile(run);
    }
    if (!RunMode->LoadsImage)
    {
        return DownloadUntilStopped(run);
    }
    return DownloadImage(arguments.FileName, run);
}
