#pragma once

// The record of one run for a production log: one JSON line appended to the --result file.
#include "target/BoardRun.h"

// Takes the start time into run; the first call of a run.
void StartRunRecord(CBoardRun& run);
// The image file the run reads (download) or writes (--read).
void RecordImagePath(const char* path);
// The image bytes are known: ImageLength bytes of ImageBuffer, descrambled.
void RecordImageBytes();
// Opens the --result file for appending, so that a file that cannot be written is known before
// the board is touched. False, with a diagnostic, when it cannot be opened; true without
// --result.
bool OpenRunRecord();
// Whether every record has key already, or may have it (a --record-tag of that key, or of one
// given before, would make two).
bool IsRecordKey(const char* key);
// The port, and the board of a station (0 for none), that every event names from now on.
void TellEventsOfBoard(int board);
// The board's run has begun, and has ended: events that hold the record's keys (--json).
void TellRunStart(const CBoardRun& run);
void TellRunEnd(const CBoardRun& run, bool ok);
// Appends the line when --result was given. False, with a diagnostic, when it could not be
// written: a run that leaves no record must not pass as good on a production line.
bool AppendRunRecord(const CBoardRun& run, bool ok);
