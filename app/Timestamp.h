#pragma once

#include <cstddef>

// ISO 8601 in UTC with milliseconds, "2026-12-07T14:13:01.427Z", for milliseconds since
// 1970-01-01 00:00 UTC (proleptic Gregorian calendar), without the C library's time zone
// state: it must not depend on the machine's settings, nor stop at 2038.
void FormatTimestamp(long long millisecondsSinceEpoch, char* text, size_t size);
