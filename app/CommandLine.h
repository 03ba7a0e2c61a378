#pragma once

#include "target/RunPlan.h"

const int MaxIgnoredArguments = 16;

// What the one walk over argv found. The settings (target/RunPlan.h, app/Settings.h) are
// written as the walk goes; this holds the rest.
struct CArguments
{
    // The image: the first non-empty argument that is no option. It points into argv, so a
    // name of any length is kept whole.
    const char* FileName = nullptr;
    // --help, --version or --list-ports, the first one given: answered instead of a run.
    void (*Question)() = nullptr;
    // --read, --erase or --identify, the last one given; nullptr for a download.
    const CRunMode* Job = nullptr;
    // Each of them given (JobBit in app/OptionNames.h): two are refused.
    unsigned Jobs = 0;
    // A bad argument: nothing after it was applied but the questions and --result, so that a
    // run that fails on its arguments is recorded too. Error says what was wrong.
    bool Failed = false;
    bool ErrorOnConsole = false; // "invalid port number", which standard output tells
    const char* Error = "";
    bool VerifyGiven = false;
    bool PortGiven = false;
    bool SizeGiven = false;
    bool UpdateGiven = false;
    bool HelpGiven = false; // --help beside --station: refused instead of answered
    bool SerialFormatGiven = false;
    // Arguments after the image name that look like options but are none: ignored, as
    // always, but pointed out.
    const char* Ignored[MaxIgnoredArguments] = {};
    int IgnoredCount = 0;
};

// Walks argv[1..argc-1] once and decides RunMode. Prints nothing.
void WalkArguments(int argc, char** argv, CArguments& arguments);
// Tells a bad argument or combination (false), and the ignored arguments: after the start-up
// line, as the run's first words.
bool AcceptArguments(const CArguments& arguments);

// atoi's reading of text (white space, sign, digits) limited to the valid port range; only
// white space may follow the digits.
bool ParsePortNumber(const char* text, int& port);
// Whether the arguments go together; false, with a diagnostic, when they do not.
bool CheckCombination(const CArguments& arguments);
// For an option's applier: the walk failed, for the reason format gives. Returns false.
bool RefuseArgument(CArguments& walk, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
// The argv entries an argument takes as an option: 2 with its value, 1 alone, 0 for no option.
int OptionArguments(const char* argument);
// The option table's applier of --record-tag (app/RecordKeys.cpp).
bool ApplyRecordTag(CArguments& walk, const char* name, const char* value);
// The usage text, one line per option of the table.
void PrintUsage();
