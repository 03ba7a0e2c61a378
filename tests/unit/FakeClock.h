#pragma once

#include <functional>

// The host's clock in the tests that run the download in process (the unit tests and the fuzz
// targets): no real waiting, a pause only moves it on, carrying out on its way what was set to
// happen at a fake time. Like the real one, a pause ends early when a stop is requested.

// Back to 0, nothing set to happen.
void ResetFakeClock();
long long FakeClockMilliseconds();
// change happens at the fake time atMs: a pause that reaches it carries it out first.
void AtFakeTime(long long atMs, std::function<void()> change);
// Carries out what is due by now, for code that looks at the world without pausing.
void RunDueChanges();
