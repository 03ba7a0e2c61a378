#include "app/Station.h"

#include "app/Control.h"
#include "app/Outcome.h"
#include "app/RunRecord.h"
#include "app/SerialNumber.h"
#include "base/Clock.h"
#include "base/ConsoleOut.h"
#include "base/Diagnostic.h"
#include "base/Stop.h"
#include "target/Download.h"
#include "target/RunPlan.h"
#include "target/Station.h"

#include <cinttypes>
#include <cstdio>

namespace
{

int Flashed = 0;
int Passed = 0;
// The status line between boards, redrawn in place: its length on the console (0 while none is
// drawn) and what it shows.
int StatusLength = 0;
ELineState StatusShown = LineEmpty;
// What the line shows while the board flashed last, or one that came back, is still there.
char Leaving[64];

void DrawStatus(const char* state)
{
    char line[128];
    int length = snprintf(line, sizeof line, "Board %d: %s (%d OK, %d NG)", Flashed + 1, state,
                          Passed, Flashed - Passed);
    // Spaces cover what is left of a longer line before it.
    ConsoleText("%s%s%*s", StatusLength > 0 ? "\r" : "", line,
                StatusLength > length ? StatusLength - length : 0, "");
    StatusLength = length > StatusLength ? length : StatusLength;
    TellEventsOfBoard(Flashed + 1);
    ConsoleEvent("state", "\"state\":\"%s\",\"passed\":%d,\"failed\":%d", state, Passed,
                 Flashed - Passed);
}

// A message on standard error starts on a line of its own; the status is drawn anew after it.
void EndStatusLine()
{
    if (StatusLength > 0)
    {
        ConsoleText("\n");
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
    DrawStatus(state == LineOccupied   ? Leaving
               : state == LineSettling ? "board found"
               : state == LineNoPort   ? "adapter gone"
                                       : "waiting");
}

// A board may go on only with a record and a serial number (--serial-at) of its own.
enum EBoardEnd
{
    BoardDone,
    BoardNotRecorded,
    BoardNotNumbered,
};

// What a single run prints from the first stage label to the verdict, and its record, in the
// board's own run value; the guard brings the board to a known state first. With --serial-at
// field holds its number field (an update numbers its board once it has read it), or nullptr
// when it could not be read: the board is not touched then.
EBoardEnd FlashBoard(CBoardRun& run, const unsigned char* field)
{
    const bool ready =
        SerialAt < 0 || RunMode == &UpdateRun || (field != nullptr && NumberFromField(run, field));
    char started[48];
    snprintf(started, sizeof started, run.HasSerial ? "started with serial %" PRIu64 : "started",
             run.Serial);
    DrawStatus(started);
    ConsoleText("\n");
    StatusLength = 0;
    if (ready)
    {
        TellRunStart(run);
    }
    const bool passed = FinishRun(run, ready && RunStages(*RunMode, run, ClockSeconds()));
    KeepNotesIn(nullptr);
    if (passed && run.HasSerial)
    {
        NotePassed(run.Serial);
    }
    ++Flashed;
    Passed += passed ? 1 : 0;
    ConsoleText("\n\n");
    int length = snprintf(Leaving, sizeof Leaving, "remove board %d", Flashed);
    if (run.HasSerial)
    {
        snprintf(Leaving + length, sizeof Leaving - length, ", serial %" PRIu64, run.Serial);
    }
    return run.RecordLost ? BoardNotRecorded : run.NotNumbered ? BoardNotNumbered : BoardDone;
}

// With --serial-at, a board found is one that passed here before when its number field says so:
// it came back (a bounced contact, an adapter that vanished, an operator's slip). One that
// failed comes back for a retry, and keeps its number.
bool CameBack(const unsigned char* field)
{
    uint64_t number = 0;
    if (!NumberInField(field, number) || !PassedBefore(number))
    {
        return false;
    }
    snprintf(Leaving, sizeof Leaving, "board %" PRIu64 " again: remove it", number);
    return true;
}

// Flashes the board found unless it came back, in a run value of its own. False when the
// station must stop.
bool ServeBoard()
{
    CBoardRun run;
    run.Board = Flashed + 1;
    KeepNotesIn(&run.Notes);
    StartRunRecord(run);
    TellEventsOfBoard(run.Board);
    // Another port of the same gang may have passed the board that has come here.
    TakeParentNews();
    unsigned char field[MaxSerialDigits] = {};
    const bool read = SerialAt >= 0 && ReadNumberField(run, field);
    if (read && CameBack(field))
    {
        KeepNotesIn(nullptr);
        return true;
    }
    const EBoardEnd end = FlashBoard(run, read ? field : nullptr);
    if (end != BoardDone)
    {
        Diagnose("board %d %s: the station stops", Flashed,
                 end == BoardNotRecorded ? "could not be recorded" : "got no serial number");
    }
    return end == BoardDone;
}

// Board after board until a stop request. Returns the exit status.
int ServeBoards()
{
    bool boardOn = AwaitNewBoard(ShowLine);
    while (boardOn)
    {
        // A line that asked for records (or numbers) must not get boards without them.
        if (!ServeBoard())
        {
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
    ConsoleText("\n\n");
    return Passed == Flashed ? 0 : 1;
}

} // namespace

int RunStation(const CArguments& arguments, CBoardRun& setup)
{
    Flashed = 0;
    Passed = 0;
    StatusLength = 0;
    BeforeDiagnostics(EndStatusLine);
    KeepDiagnosticsOnLinesOfTheirOwn(true);
    EnterStage("Arguments");
    bool ready = AcceptArguments(arguments) && OpenRunRecord() &&
                 LoadNamedImage(arguments.FileName) && CheckSerialNumbers();
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
        ConsoleText("%d %s flashed: %d OK, %d NG\n", Flashed, Flashed == 1 ? "board" : "boards",
                    Passed, Flashed - Passed);
        TellEventsOfBoard(0);
        ConsoleEvent("summary", "\"boards\":%d,\"passed\":%d,\"failed\":%d", Flashed, Passed,
                     Flashed - Passed);
    }
    ReleaseStopRequests();
    BeforeDiagnostics(nullptr);
    KeepDiagnosticsOnLinesOfTheirOwn(false);
    return status;
}
