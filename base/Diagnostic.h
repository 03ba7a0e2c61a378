#pragma once

// Extra diagnostics: one line each on standard error, "orbelt-dl: <text>", so that standard
// output keeps exactly the console text operators and scripts know. The last line is kept for
// the run's record.
void Diagnose(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

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

// The stage the run is in ("Arguments", "Image", "Port", "Erase", "Program", ...), so that the
// record of a failed run can name where it stopped.
void EnterStage(const char* stage);
const char* CurrentStage();
