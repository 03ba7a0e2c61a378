#include "app/GangWorkers.h"

#include "app/Outcome.h"
#include "app/RunRecord.h"
#include "app/Settings.h"
#include "base/Clock.h"
#include "base/ConsoleOut.h"
#include "target/RunPlan.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

bool PlainLines = false;

namespace
{

// The character an escape at c (its backslash) stands for; c is left on its last character. Any
// \uXXXX is shown as '?': names and reasons are plain text.
char Unescaped(const char*& c)
{
    ++c;
    switch (*c)
    {
    case 'n':
    case 'r':
    case 't':
    case 'b':
    case 'f':
        return ' ';
    case 'u':
        for (int digit = 0; digit < 4 && c[1] != '\0'; ++digit)
        {
            ++c;
        }
        return '?';
    default:
        return *c;
    }
}

// The value of the member key of a flat JSON object, as workers write them: a string
// unescaped, or the text of a number, true, false or null. False when there is none.
bool Member(const std::string& line, const char* key, char* value, size_t size)
{
    const std::string name = std::string("\"") + key + "\":";
    size_t at = 0;
    // A name stands after the brace or a comma; inside a string, its quote would be escaped.
    while ((at = line.find(name, at)) != std::string::npos && at > 0 && line[at - 1] != '{' &&
           line[at - 1] != ',')
    {
        at += name.size();
    }
    if (at == std::string::npos || at == 0 || size == 0)
    {
        return false;
    }
    size_t used = 0;
    const char* c = line.c_str() + at + name.size();
    const bool text = *c == '"';
    for (c += text ? 1 : 0; *c != '\0' && used + 1 < size; ++c)
    {
        if (text ? *c == '"' : (*c == ',' || *c == '}'))
        {
            break;
        }
        if (text && *c == '\\' && c[1] != '\0')
        {
            value[used++] = Unescaped(c);
            continue;
        }
        value[used++] = *c;
    }
    value[used] = '\0';
    return true;
}

long long MemberNumber(const std::string& line, const char* key, long long otherwise)
{
    char value[32];
    return Member(line, key, value, sizeof value) && value[0] != 'n' ? strtoll(value, nullptr, 10)
                                                                     : otherwise;
}

// The board's number and serial number, as its events give them.
void TakeBoard(CPort& port, const std::string& line)
{
    port.View.Board = static_cast<int>(MemberNumber(line, "board", port.View.Board));
    char serial[32];
    if (Member(line, "serial", serial, sizeof serial) && serial[0] != 'n')
    {
        port.View.HasSerial = true;
        port.View.Serial = strtoull(serial, nullptr, 10);
    }
}

void Started(CPort& port, const std::string& line)
{
    port.View.HasSerial = false;
    port.View.Board = port.View.Board + (StationMode ? 0 : 1);
    TakeBoard(port, line);
    port.BoardOpen = true;
    port.BoardStartMs = ClockMilliseconds();
    port.BoardStartWallMs = WallClockMilliseconds();
    snprintf(port.View.State, sizeof port.View.State, "started");
    if (PlainLines && port.View.HasSerial)
    {
        ConsoleText("COM%d board %d: started, serial %" PRIu64 "\n", port.Number, port.View.Board,
                    port.View.Serial);
    }
    else if (PlainLines)
    {
        ConsoleText("COM%d board %d: started\n", port.Number, port.View.Board);
    }
}

void Ended(CPort& port, const std::string& line)
{
    char value[16];
    const bool ok = Member(line, "ok", value, sizeof value) && strcmp(value, "true") == 0;
    char seconds[32] = "0";
    Member(line, "elapsed_seconds", seconds, sizeof seconds);
    if (!Member(line, "reason", port.Reason, sizeof port.Reason) ||
        strcmp(port.Reason, "null") == 0)
    {
        port.Reason[0] = '\0';
    }
    TakeBoard(port, line);
    port.BoardOpen = false;
    port.Ended = true;
    port.View.Last = ok ? VerdictOk : VerdictNg;
    port.View.LastSeconds = strtod(seconds, nullptr);
    (ok ? port.View.Passed : port.View.Failed) += 1;
    snprintf(port.View.State, sizeof port.View.State, "%s", StationMode ? "" : "done");
    if (PlainLines)
    {
        ConsoleText("COM%d board %d: %s %.1f s%s%s\n", port.Number, port.View.Board,
                    ok ? "OK" : "NG", port.View.LastSeconds, ok ? "" : ": ", port.Reason);
    }
    // A board that passed on one port is left alone should it come to another.
    if (ok && StationMode && port.View.HasSerial)
    {
        char news[48];
        snprintf(news, sizeof news, "passed %" PRIu64 "\n", port.View.Serial);
        TellWorkers(news, static_cast<int>(&port - Ports));
    }
}

} // namespace

bool ApplyEvent(CPort& port, const std::string& line)
{
    ConsoleEventLine(line.c_str());
    char kind[16];
    char text[64];
    if (!Member(line, "event", kind, sizeof kind))
    {
        return false;
    }
    if (strcmp(kind, "start") == 0)
    {
        Started(port, line);
    }
    else if (strcmp(kind, "stage") == 0 && Member(line, "label", port.Label, sizeof port.Label))
    {
        Member(line, "stage", port.Stage, sizeof port.Stage);
        snprintf(port.View.State, sizeof port.View.State, "%s", port.Label);
    }
    else if (strcmp(kind, "progress") == 0)
    {
        // As the console shows a stage: the label, the figure in the field's last places.
        snprintf(port.View.State, sizeof port.View.State, "%-15s%3lld %%", port.Label,
                 MemberNumber(line, "percent", 0));
    }
    else if (strcmp(kind, "serial") == 0)
    {
        TakeBoard(port, line);
    }
    else if (strcmp(kind, "state") == 0 && Member(line, "state", text, sizeof text))
    {
        TakeBoard(port, line);
        snprintf(port.View.State, sizeof port.View.State, "%s", text);
    }
    else if (strcmp(kind, "end") == 0)
    {
        Ended(port, line);
    }
    else
    {
        return false;
    }
    return true;
}

void EndForWorker(CPort& port, const char* why)
{
    CBoardRun run;
    run.Board = StationMode ? port.View.Board : 0;
    run.HasSerial = port.View.HasSerial;
    run.Serial = port.View.Serial;
    run.StartMs = port.BoardOpen ? port.BoardStartMs : ClockMilliseconds();
    run.StartWallMs = port.BoardOpen ? port.BoardStartWallMs : WallClockMilliseconds();
    KeepNotesIn(&run.Notes);
    EnterStage(port.Stage);
    NoteReason(why);
    const int parentPort = PortNumber;
    PortNumber = port.Number;
    AppendRunRecord(run, false);
    TellRunEnd(run, false);
    PortNumber = parentPort;
    KeepNotesIn(nullptr);
    port.BoardOpen = false;
    port.Ended = true;
    port.View.Last = VerdictNg;
    port.View.LastSeconds = static_cast<double>(ClockMilliseconds() - run.StartMs) / 1000;
    port.View.Failed += 1;
    snprintf(port.Reason, sizeof port.Reason, "%s", why);
    snprintf(port.View.State, sizeof port.View.State, "worker gone");
    if (PlainLines)
    {
        ConsoleText("COM%d board %d: NG %.1f s: %s\n", port.Number, port.View.Board,
                    port.View.LastSeconds, why);
    }
}
