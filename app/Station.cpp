#include "app/Station.h"

#include "app/Outcome.h"
#include "app/RunRecord.h"
#include "base/Clock.h"
#include "base/Diagnostic.h"
#include "base/Stop.h"
#include "target/Download.h"
#include "target/RunPlan.h"
#include "target/Station.h"

#include <cstdio>

namespace
{

int Flashed = 0;
int Passed = 0;
// The status line between boards, redrawn in place: its length on the console (0 while none is
// drawn) and what it shows.
int StatusLength = 0;
ELineState StatusShown = LineEmpty;

void DrawStatus(const char* state)
{
    char line[80];
    int length = snprintf(line, sizeof line, "Board %d: %s (%d OK, %d NG)", Flashed + 1, state,
                          Passed, Flashed - Passed);
    // Spaces cover what is left of a longer line before it.
    printf("%s%s%*s", StatusLength > 0 ? "\r" : "", line,
           StatusLength > length ? StatusLength - length : 0, "");
    StatusLength = length > StatusLength ? length : StatusLength;
}

// A message on standard error starts on a line of its own; the status is drawn anew after it.
void EndStatusLine()
{
    if (StatusLength > 0)
    {
        printf("\n");
        StatusLength = 0;
    }
}

void ShowLine(ELineState state)
{
    if (StatusLength > 0 && state == StatusShown)
    {
        return;
    }
    StatusShown = state;
    char leaving[40];
    snprintf(leaving, sizeof leaving, "remove board %d", Flashed);
    DrawStatus(state == LineOccupied   ? leaving
               : state == LineSettling ? "board found"
               : state == LineNoPort   ? "adapter gone"
                                       : "waiting");
}

// What a single run prints from the first stage label to the verdict, and its record, in a run
// value of the board's own. False when the record could not be written.
bool FlashBoard()
{
    DrawStatus("started");
    printf("\n");
    StatusLength = 0;
    CBoardRun run;
    run.Board = Flashed + 1;
    KeepNotesIn(&run.Notes);
    StartRunRecord(run);
    RealignBoard();
    const bool passed = FinishRun(run, RunStages(*RunMode, run, ClockSeconds()));
    KeepNotesIn(nullptr);
    ++Flashed;
    Passed += passed ? 1 : 0;
    printf("\n\n");
    return !run.RecordLost;
}

// Board after board until a stop request. Returns the exit status.
int ServeBoards()
{
    bool boardOn = AwaitNewBoard(ShowLine);
    while (boardOn)
    {
        // A line that asked for records must not get boards without them.
        if (!FlashBoard())
        {
            Diagnose("board %d could not be recorded: the station stops", Flashed);
            return 1;
        }
        if (StopRequested())
        {
            return 128 + StopSignal();
        }
        // Whatever its verdict, a board is flashed once: the next one must be another.
        if (!AwaitBoardGone(ShowLine))
        {
            break;
        }
        ShowLine(LineEmpty);
        boardOn = AwaitNewBoard(ShowLine);
    }
    printf("\n\n");
    return Passed == Flashed ? 0 : 1;
}

} // namespace

int RunStation(const CArguments& arguments, CBoardRun& setup)
{
    Flashed = 0;
    Passed = 0;
    StatusLength = 0;
    BeforeDiagnostics(EndStatusLine);
    EnterStage("Arguments");
    bool ready =
        AcceptArguments(arguments) && OpenRunRecord() && LoadNamedImage(arguments.FileName);
    CatchStopRequests();
    ready = ready && OpenTargetPort();
    int status = 1;
    if (!ready)
    {
        FinishRun(setup, false);
    }
    else
    {
        status = ServeBoards();
        printf("%d %s flashed: %d OK, %d NG\n", Flashed, Flashed == 1 ? "board" : "boards", Passed,
               Flashed - Passed);
    }
    ReleaseStopRequests();
    BeforeDiagnostics(nullptr);
    return status;
}
