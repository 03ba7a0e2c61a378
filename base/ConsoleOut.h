#pragma once

// The run's console: every line it shows comes out here. Console text goes, byte for byte, to
// standard output; for a program (--json), JSON events go there instead, one object a line, and
// the console text goes to standard error beside the diagnostics, so that a transcript of that
// stream reads as the operator would have seen the run.

// From now on, events on standard output and the console text on standard error (or, false, as
// without --json again).
void UseJsonEvents(bool json = true);
bool JsonEvents();

// Console text, printf-style, visible at once.
void ConsoleText(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
// The console text ends in the middle of a line (a stage line being drawn, a status line).
bool ConsoleLineOpen();
// A diagnostic never shares a line with console text where both meet (--json, a station): then
// one that comes while a line is open starts on a line of its own.
void KeepDiagnosticsOnLinesOfTheirOwn(bool keep);
// Called before each diagnostic line.
void EndLineBeforeDiagnostic();

// The members every event has after "event", such as "\"port\":3,\"board\":2" (JSON, without
// braces); empty for none.
void SetEventKeys(const char* keys);
// An event line as another run of this program wrote it, passed on whole (a worker's).
void ConsoleEventLine(const char* line);
// {"event":"KIND",<members>}: for events whose members hold the keys already (a run record's).
void ConsoleRecordEvent(const char* kind, const char* members, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
// {"event":"KIND",<the keys>,<members>} and a line feed on standard output, written at once;
// members are JSON, printf-style, "" for none. Nothing unless JsonEvents().
void ConsoleEvent(const char* kind, const char* members, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
