#include "base/Diagnostic.h"

#include "base/ConsoleOut.h"

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace
{

CRunNotes ProcessNotes;
CRunNotes* Notes = &ProcessNotes;
char WarningLine[sizeof ProcessNotes.Reason];
bool Quiet = false;
void (*Hook)() = nullptr;
char PrintedLine[sizeof ProcessNotes.Reason];

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
        if (Hook != nullptr)
        {
            Hook();
        }
        EndLineBeforeDiagnostic();
        fprintf(stderr, "orbelt-dl: %s\n", line);
    }
}

} // namespace

void Diagnose(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    PrintLine(Notes->Reason, sizeof Notes->Reason, format, arguments);
    va_end(arguments);
}

void BeforeDiagnostics(void (*hook)())
{
    Hook = hook;
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
    snprintf(Notes->Reason, sizeof Notes->Reason, "%s", text);
}

const char* LastDiagnostic()
{
    return Notes->Reason;
}

void KeepNotesIn(CRunNotes* notes)
{
    Notes = notes != nullptr ? notes : &ProcessNotes;
}

void EnterStage(const char* stage)
{
    Notes->Stage = stage;
}

const char* CurrentStage()
{
    return Notes->Stage;
}
