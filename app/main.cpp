#include "app/CommandLine.h"
#include "app/Console.h"
#include "app/Control.h"
#include "app/Gang.h"
#include "app/Outcome.h"
#include "app/RunRecord.h"
#include "app/Settings.h"
#include "app/Station.h"
#include "base/ConsoleOut.h"
#include "base/Diagnostic.h"
#include "base/StandardStreams.h"
#include "base/Stop.h"
#include "image/ReplacementFile.h"

int main(int argc, char** argv)
{
    KeepStandardStreamsOpen();
    KeepRunningWithoutConsole();
    LetWritesFailPastTheSizeLimit();
    MakeOutputUnbuffered();
    CArguments arguments;
    WalkArguments(argc, argv, arguments);
    if (arguments.Question != nullptr)
    {
        arguments.Question();
        return 0;
    }
    if (JsonMode)
    {
        // Events for a program: nobody is there to press a key.
        UseJsonEvents();
        NoWait = true;
    }
    if (WorkerMode)
    {
        ListenToParent();
    }
    TellEventsOfBoard(0);
    CBoardRun run;
    KeepNotesIn(&run.Notes);
    StartRunRecord(run);
    StartUp();
    if (GangPortCount > 0)
    {
        return RunGang(arguments, run, argc, argv);
    }
    if (StationMode)
    {
        return RunStation(arguments, run);
    }
    bool result = FinishRun(run, RunFromArguments(arguments, run));
    if (StopRequested())
    {
        // Whoever stopped the run is not there to press a key.
        return 128 + StopSignal();
    }
    if (NoWait)
    {
        return result ? 0 : 1;
    }
    WaitForKey();
    // 1 after every run, success or not, as existing callers expect: the verdict is the banner.
    return 1;
}
