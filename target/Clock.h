#pragma once

// The download's only waits and time source, one source file per platform, so that a
// test build can link a stand-in instead.
void PauseMilliseconds(int milliseconds);
long ClockSeconds();
// A monotonic count of milliseconds from an arbitrary start, for intervals within one run.
long long ClockMilliseconds();
