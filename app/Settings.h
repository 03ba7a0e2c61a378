#pragma once

// The front end's own settings, written by the argument walk; the download's are in
// target/RunPlan.h.

extern const char* ReadPath;   // --read FILE, the image file to write; nullptr otherwise
extern bool NoWait;            // --no-wait: no key wait, and the exit status tells the result
extern const char* ResultPath; // --result FILE, the run record's file; nullptr otherwise
extern bool StationMode;       // --station: board after board on one port, no key waits
extern bool JsonMode;          // --json: events on standard output, the console on stderr
extern bool WorkerMode;        // --worker: a worker of --ports, its input the parent's
// --record-tag KEY=VALUE, as given: keys added to every record.
const int MaxRecordTags = 16;
extern const char* RecordTags[MaxRecordTags];
extern int RecordTagCount;
