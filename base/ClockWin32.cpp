#include "base/Clock.h"

#include "base/Stop.h"

#include <windows.h>

namespace
{

// Sleep cannot be woken: a stop request is seen at the next slice.
const ULONGLONG PauseSliceMs = 50;

} // namespace

void PauseMilliseconds(int milliseconds)
{
    bool stoppedBefore = StopRequested();
    ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(milliseconds);
    for (ULONGLONG now = GetTickCount64(); now < end && (stoppedBefore || !StopRequested());
         now = GetTickCount64())
    {
        Sleep(static_cast<DWORD>(end - now < PauseSliceMs ? end - now : PauseSliceMs));
    }
}

long ClockSeconds()
{
    return static_cast<long>(GetTickCount64() / 1000);
}

long long ClockMilliseconds()
{
    return static_cast<long long>(GetTickCount64());
}

long long ClockNanoseconds()
{
    LARGE_INTEGER count;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    const long long seconds = count.QuadPart / frequency.QuadPart;
    const long long rest = count.QuadPart % frequency.QuadPart;
    return seconds * 1000000000LL + rest * 1000000000LL / frequency.QuadPart;
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
