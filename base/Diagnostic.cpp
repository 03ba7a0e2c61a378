#include "base/Diagnostic.h"

#include <cstdarg>
#include <cstddef>
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

namespace
{

// While repeats are quiet: a line with the words of the last one printed.
bool HeldBack(const char* line)
{
    if (!Quiet || strcmp(line, PrintedLine) == 0)
    {
        return Quiet;
    }
    snprintf(PrintedLine, sizeof PrintedLine, "%s", line);
    return false;
}

void PrintLine(char* line, size_t size, const char* format, va_list arguments)
{
    vsnprintf(line, size, format, arguments);
    if (!HeldBack(line))
    {
        fprintf(stderr, "orbelt-dl: %s\n", line);
    }
}

} // namespace

void Diagnose(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    PrintLine(LastLine, sizeof LastLine, format, arguments);
    va_end(arguments);
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
    PrintLine(WarningLine, sizeof WarningLine, format, arguments);
    va_end(arguments);
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
