#include "app/Diagnostic.h"

#include <cstdarg>
#include <cstdio>

namespace
{

char LastLine[256];

} // namespace

void Diagnose(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(LastLine, sizeof LastLine, format, arguments);
    va_end(arguments);
    fprintf(stderr, "orbelt-dl: %s\n", LastLine);
}

void NoteReason(const char* text)
{
    snprintf(LastLine, sizeof LastLine, "%s", text);
}

const char* LastDiagnostic()
{
    return LastLine;
}

namespace
{

const char* Stage = "Arguments";

} // namespace

void EnterStage(const char* stage)
{
    Stage = stage;
}

const char* CurrentStage()
{
    return Stage;
}
