#pragma once

// The download's only waits and time source, one source file per platform, so that a
// test build can link a stand-in instead.
void PauseMilliseconds(int milliseconds);
long ClockSeconds();
// Calendar time in milliseconds since 1970-01-01 00:00 UTC, for the run record.
long long WallClockMilliseconds();
// A clock that only moves forward, for the elapsed time of the run record.
long long MonotonicMilliseconds();
