#include "target/Clock.h"

#include <ctime>
#include <windows.h>

void PauseMilliseconds(int milliseconds)
{
    Sleep(static_cast<DWORD>(milliseconds));
}

long ClockSeconds()
{
    return static_cast<long>(time(nullptr));
}

long long WallClockMilliseconds()
{
    // FILETIME counts 100 ns steps from 1601-01-01 UTC.
    const long long UnixEpochIn100ns = 116444736000000000LL;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    long long ticks = (static_cast<long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return (ticks - UnixEpochIn100ns) / 10000;
}

long long MonotonicMilliseconds()
{
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return counter.QuadPart / frequency.QuadPart * 1000 +
           counter.QuadPart % frequency.QuadPart * 1000 / frequency.QuadPart;
}
