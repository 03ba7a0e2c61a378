#pragma once

// Extra diagnostics: one line each on standard error, "orbelt-dl: <text>", so that standard
// output keeps exactly the console text operators and scripts know. The last line is kept for
// the run's record.
void Diagnose(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// hook runs before each line on standard error, so that a line drawn in place on the console
// (a station's status) can be ended first; nullptr for none.
void BeforeDiagnostics(void (*hook)());

// While on, a diagnostic that repeats the last one printed since it was turned on is kept but
// not printed again: a wait that tries the same thing again and again must not fill standard
// error with it.
void QuietRepeats(bool quiet);

// A line on standard error that points something out without being why a run failed: it is
// not kept for the record.
void Warn(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// A failure that standard output already states in full: kept as the reason for the run's
// record, not repeated on standard error.
void NoteReason(const char* text);

// The text of the last diagnostic, without the prefix; empty when there was none.
const char* LastDiagnostic();

// Where a run stopped and why, for its record. Each run keeps its own notes (a board's run starts
// with fresh ones); NoteReason, Diagnose and EnterStage write to the notes kept now.
struct CRunNotes
{
    const char* Stage = "Arguments";
    // Room for two paths of any length a file system allows and the words around them: a long
    // path must never cost a line its reason.
    char Reason[16384] = "";
};

// From now on diagnostics note into notes, which must outlive their use; nullptr goes back to
// the process's own notes.
void KeepNotesIn(CRunNotes* notes);

// The stage the run is in ("Arguments", "Image", "Port", "Erase", "Program", ...), so that the
// record of a failed run can name where it stopped.
void EnterStage(const char* stage);
const char* CurrentStage();
