#include "base/Diagnostic.h"

#include <cstdarg>
#include <cstddef>
#include <cstdio>

namespace
{

// Room for two paths of any length a file system allows and the words around them: a long
// path must never cost a line its reason.
char LastLine[16384];
char WarningLine[sizeof LastLine];
const char* Stage = "Arguments";

} // namespace

namespace
{

void PrintLine(char* line, size_t size, const char* format, va_list arguments)
{
    vsnprintf(line, size, format, arguments);
    fprintf(stderr, "orbelt-dl: %s\n", line);
}

} // namespace

void Diagnose(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    PrintLine(LastLine, sizeof LastLine, format, arguments);
    va_end(arguments);
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
