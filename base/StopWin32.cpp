#include "base/Stop.h"

#include <csignal>
#include <windows.h>

namespace
{

volatile LONG CaughtSignal = 0;
HANDLE MainThread = nullptr;

// Numbers as a POSIX shell would show them: SIGINT, SIGBREAK and, for a closed console, SIGHUP.
const LONG BreakSignal = 21;
const LONG HangUpSignal = 1;
// Windows ends the process as soon as the handler of a close event returns; the main thread
// needs this long at most to leave bypass mode and print the verdict.
const DWORD CloseGraceMs = 3000;

void Request(LONG signalNumber)
{
    InterlockedCompareExchange(&CaughtSignal, signalNumber, 0);
    // A port read waiting for its time-out ends now instead of up to a second later.
    if (MainThread != nullptr)
    {
        CancelSynchronousIo(MainThread);
    }
}

BOOL WINAPI StopOnConsoleEvent(DWORD event)
{
    LONG signalNumber = event == CTRL_C_EVENT       ? SIGINT
                        : event == CTRL_BREAK_EVENT ? BreakSignal
                        : event == CTRL_CLOSE_EVENT ? HangUpSignal
                                                    : 0;
    if (signalNumber == 0)
    {
        return FALSE;
    }
    Request(signalNumber);
    if (event == CTRL_CLOSE_EVENT)
    {
        Sleep(CloseGraceMs);
    }
    return TRUE;
}

} // namespace

void CatchStopRequests()
{
    if (MainThread == nullptr)
    {
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &MainThread,
                        0, FALSE, DUPLICATE_SAME_ACCESS);
    }
    SetConsoleCtrlHandler(StopOnConsoleEvent, TRUE);
}

void ReleaseStopRequests()
{
    SetConsoleCtrlHandler(StopOnConsoleEvent, FALSE);
}

void RequestStop(int signalNumber)
{
    Request(signalNumber);
}

bool StopRequested()
{
    return CaughtSignal != 0;
}

int StopSignal()
{
    return static_cast<int>(CaughtSignal);
}

int StopDescriptor()
{
    return -1;
}
