#pragma once

// Every wait and time source of the host program, one source file per platform, so that a
// test build can link a stand-in. ClockSeconds and ClockMilliseconds are monotonic: a step of the
// wall clock (a time sync during a download) never shows in an elapsed time.

// Returns early when a stop request (base/Stop.h) arrives during the pause.
void PauseMilliseconds(int milliseconds);
long ClockSeconds();
long long ClockMilliseconds();
long long ClockNanoseconds();
// Calendar time in milliseconds since 1970-01-01 00:00 UTC: only for the run record's start
// time, never for a duration.
long long WallClockMilliseconds();
