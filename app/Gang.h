#pragma once

// --ports LIST: a parent that flashes on many ports at once, through one worker process a port
// (orbelt-dl -p N --json --worker with the same options), whose events it reads to draw the
// screen, write the summary and the records of workers that died, and pass stop requests and
// the numbers of boards that passed on. It never opens a serial port itself.
#include "app/CommandLine.h"
#include "target/BoardRun.h"

// The ports of --ports, in ascending order, and --log-dir; GangPortCount 0 without --ports.
extern int GangPorts[MaxPortNumber];
extern int GangPortCount;
extern const char* GangLogFolder;

void ResetGangSettings();
// Port numbers and ranges, such as "1-4,7": each from 1 to 250, none twice. False, with why.
bool ParsePortList(const char* text, int (&ports)[MaxPortNumber], int& count, char (&why)[160]);
// The option table's appliers.
bool ApplyPorts(CArguments& walk, const char* name, const char* value);
bool ApplyLogDir(CArguments& walk, const char* name, const char* value);
// Whether --ports goes with the rest of the arguments; false, with a diagnostic, when not.
bool CheckGang(const CArguments& walk);

// The whole of a --ports run after the start-up line, argv as main got it. Returns the exit
// status: 0 when every port (every board of a station) passed, 1 otherwise, 128 + N after
// signal N.
int RunGang(const CArguments& arguments, CBoardRun& setup, int argc, char** argv);
