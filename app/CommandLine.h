#pragma once

// Walks argv into the run settings and *fileName (nullptr when none was given; it points into
// argv, so a name of any length is kept whole). Prints "invalid port number\n" and returns
// false at the first bad -p value, without looking at later arguments; a bad value or
// combination of the long options is one diagnostic line and false.
bool ParseArguments(int argc, char** argv, const char** fileName);

// atoi's reading of text (white space, sign, digits) limited to the valid port range.
bool ParsePortNumber(const char* text, int& port);

// What the command line asks for before any run: --help and --version answer at once, and
// --result is taken even when the walk later stops at a bad argument, so that a failed run
// is recorded too.
enum EEarlyRequest
{
    RequestRun,
    RequestHelp,
    RequestVersion,
};
EEarlyRequest ScanEarlyOptions(int argc, char** argv);
void PrintUsage();
void PrintVersion();
