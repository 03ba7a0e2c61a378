#include "base/Diagnostic.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace
{

// Room for two paths of any length a file system allows and the words around them: a long
// path must never cost a line its reason.
char LastLine[16384];
char WarningLine[sizeof LastLine];
const char* Stage = "Arguments";
bool Quiet = false;
char PrintedLine[sizeof LastLine];

} // namespace

void Diagnose(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(LastLine, sizeof LastLine, format, arguments);
    va_end(arguments);
    if (Quiet && strcmp(LastLine, PrintedLine) == 0)
    {
        return;
    }
    if (Quiet)
    {
        snprintf(PrintedLine, sizeof PrintedLine, "%s", LastLine);
    }
    fprintf(stderr, "orbelt-dl: %s\n", LastLine);
}

void QuietRepeats(bool quiet)
{
    Quiet = quiet;
    PrintedLine[0] = '\0';
}

void Warn(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(WarningLine, sizeof WarningLine, format, arguments);
    va_end(arguments);
    fprintf(stderr, "orbelt-dl: %s\n", WarningLine);
}

void NoteReason(const char* text)
{
    snprintf(LastLine, sizeof LastLine, "%s", text);
}

const char* LastDiagnostic()
{
    return LastLine;
}

void EnterStage(const char* stage)
{
    Stage = stage;
}

const char* CurrentStage()
{
    return Stage;
}
