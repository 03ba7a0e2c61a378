#pragma once

// The parent's side of --ports (app/Gang.h): its workers, one a port, the lines they write, and
// what each port has shown. For app/Gang*.cpp only.
#include "app/GangScreen.h"
#include "app/Spawn.h"
#include "base/Diagnostic.h"
#include "target/RunPlan.h"

#include <string>
#include <thread>

struct CPort
{
    std::thread Reader;
    // The board under way, from its start event: a record is due for it should the worker die.
    long long BoardStartMs = 0;
    long long BoardStartWallMs = 0;
    CChild Child;
    CPortView View;
    int Number = 0;
    bool Running = false; // its worker started and has not been reaped
    bool BoardOpen = false;
    bool Ended = false; // a board of its has ended
    char Stage[32] = "Port";
    char Label[32] = "";
    char Reason[1024] = ""; // why its last board failed
    char LogPath[4200] = "";
};

extern CPort Ports[MaxPortNumber];
extern int PortCount;
// Not on a terminal and no --json: a plain line for each board's start and end and each port's.
extern bool PlainLines;

// A line of a worker, or (End) the end of its output.
struct CWorkerLine
{
    int Port; // index into Ports
    bool End;
    std::string Text;
};

// Starts the worker of port index: this program with arguments (ending with nullptr) and its
// standard error into the port's log. False, with a diagnostic, when it cannot start.
bool StartWorker(int index, char* const* arguments);
// The next line of any worker, waiting at most timeoutMs; false when none came.
bool NextWorkerLine(CWorkerLine& line, int timeoutMs);
// Sends a line to each worker still running but one (-1: all).
void TellWorkers(const char* line, int except = -1);
// The worker's output has ended: it is reaped. False when it died: ended by a signal, or before
// its board's end; why says how.
bool ReapWorker(CPort& port, char (&why)[128]);

// What an event of the port's worker shows; true when the screen changed.
bool ApplyEvent(CPort& port, const std::string& line);
// A worker that died with its board under way, or before its first: the record and the end
// event it could not write itself, NG for why.
void EndForWorker(CPort& port, const char* why);
