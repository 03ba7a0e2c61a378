#pragma once

// The host's clock in the tests that run the download in process (the unit tests and the fuzz
// targets): no real waiting, a pause only moves it on.
void ResetFakeClock();
long long FakeClockMilliseconds();
