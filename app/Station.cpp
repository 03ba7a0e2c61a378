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

void ShowLine(ELineState state)
{
    if (StatusLength > 0 && state == StatusShown)
    {
        return;
    }
    StatusShown = state;
    char leaving[40];
    snprintf(leaving, sizeof leaving, "remove board %d", Flashed);
    DrawStatus(state == LineOccupied ? leaving : state == LineSettling ? "board found" : "waiting");
}

// What a single run prints from the first stage label to the verdict, and its record.
void FlashBoard()
{
    DrawStatus("started");
    printf("\n");
    StatusLength = 0;
    NoteReason("");
    StartRunRecord();
    RecordBoardNumber(Flashed + 1);
    const bool passed = FinishRun(RunStages(*RunMode, ClockSeconds()));
    ++Flashed;
    Passed += passed ? 1 : 0;
    printf("\n\n");
}

// Board after board until a stop request. Returns the exit status.
int ServeBoards()
{
    bool boardOn = AwaitNewBoard(ShowLine);
    while (boardOn)
    {
        FlashBoard();
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

int RunStation(const CArguments& arguments)
{
    Flashed = 0;
    Passed = 0;
    StatusLength = 0;
    EnterStage("Arguments");
    bool ready =
        AcceptArguments(arguments) && OpenRunRecord() && LoadNamedImage(arguments.FileName);
    CatchStopRequests();
    ready = ready && OpenTargetPort();
    int status = 1;
    if (!ready)
    {
        FinishRun(false);
    }
    else
    {
        status = ServeBoards();
        printf("%d %s flashed: %d OK, %d NG\n", Flashed, Flashed == 1 ? "board" : "boards", Passed,
               Flashed - Passed);
    }
    ReleaseStopRequests();
    return status;
}
