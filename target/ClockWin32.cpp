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

long long ClockMilliseconds()
{
    return static_cast<long long>(GetTickCount64());
}
