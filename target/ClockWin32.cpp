#include "target/Clock.h"

#include "app/Stop.h"

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
