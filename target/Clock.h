#pragma once

// The download's only waits and time source, one source file per platform, so that a
// test build can link a stand-in. Both clocks are monotonic: a step of the wall clock (a time
// sync during a download) never shows in an elapsed time.

// Returns early when a stop request (app/Stop.h) arrives during the pause.
void PauseMilliseconds(int milliseconds);
long ClockSeconds();
long long ClockMilliseconds();
