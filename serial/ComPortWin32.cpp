#include "serial/ComPort.h"

#include "base/Diagnostic.h"
#include "base/Stop.h"
#include "base/SystemError.h"

#include <cstdio>
#include <cstring>
#include <windows.h>

CComPort TargetPort;

namespace
{

HANDLE AsHandle(intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

// "COM3:115200,e,8,1" names the device \\.\COM3: only the device namespace reaches the ports
// above COM9.
bool DeviceName(const char* mode, char* name, size_t nameSize)
{
    char work[40];
    snprintf(work, sizeof work, "%s", mode);
    const char* token = strtok(work, ":, ");
    if (token == nullptr || _strnicmp(token, "COM", 3) != 0)
    {
        return false;
    }
    snprintf(name, nameSize, "\\\\.\\%s", token);
    return true;
}

void ApplyLineSettings(HANDLE port, const char* mode)
{
    DCB dcb;
    memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    GetCommState(port, &dcb);
    // Windows and Wine both skip the "COMn:" in front of the settings, COM10 and above too.
    BuildCommDCBA(mode, &dcb);
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    SetCommState(port, &dcb);
}

void ApplyTimeouts(HANDLE port, int readTimeoutMs)
{
    COMMTIMEOUTS timeouts;
    timeouts.ReadIntervalTimeout = 0;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = static_cast<DWORD>(readTimeoutMs);
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = WriteTimeoutMs;
    SetCommTimeouts(port, &timeouts);
}

// A call on the port failed: a cancelled call (a stop) or a time-out leaves the device as it
// was; anything else means it has gone, as an unplugged USB adapter does.
bool DeviceGone()
{
    DWORD error = GetLastError();
    return error != ERROR_OPERATION_ABORTED && error != ERROR_TIMEOUT && error != ERROR_SEM_TIMEOUT;
}

void DiagnoseOpenFailure(const char* name)
{
    Diagnose("cannot open %s: %s", name, strerror(ErrnoOfWindowsError(GetLastError())));
}

} // namespace

// Windows keeps no trace of a port once its handle is closed, which the process end does.
void ReleaseOpenPorts() {}

bool CComPort::Open(const char* mode)
{
    char name[48];
    if (!DeviceName(mode, name, sizeof name))
    {
        return false;
    }
    snprintf(DeviceText, sizeof DeviceText, "%s", name);
    Lost = false;
    HANDLE port =
        CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    Handle = reinterpret_cast<intptr_t>(port);
    if (port == INVALID_HANDLE_VALUE)
    {
        DiagnoseOpenFailure(name);
        return false;
    }
    SetupComm(port, PortQueueSize, PortQueueSize);
    ApplyLineSettings(port, mode);
    ApplyTimeouts(port, ReadTimeoutMs);
    PurgeComm(port, PURGE_TXCLEAR | PURGE_RXCLEAR);
    return true;
}

int CComPort::Read(void* buffer, int count)
{
    return ReadFor(buffer, count, count, ReadTimeoutMs);
}

int CComPort::ReadWithin(void* buffer, int count, int timeoutMs)
{
    return ReadFor(buffer, count, count, timeoutMs);
}

int CComPort::ReadAvailable(void* buffer, int minimum, int maximum)
{
    DWORD errors = 0;
    COMSTAT status;
    memset(&status, 0, sizeof status);
    if (!ClearCommError(AsHandle(Handle), &errors, &status))
    {
        Lost = Lost || DeviceGone();
    }
    int waiting = static_cast<int>(status.cbInQue);
    int count = waiting < minimum ? minimum : waiting > maximum ? maximum : waiting;
    return ReadFor(buffer, count, count, ReadTimeoutMs);
}

// The port keeps the read time-out of Read; another is set for the one call only.
int CComPort::ReadFor(void* buffer, int minimum, int /*maximum*/, int timeoutMs)
{
    // A stop cancels a waiting ReadFile; one that would start after it must not wait either.
    if (StopCutsShort())
    {
        return 0;
    }
    HANDLE port = AsHandle(Handle);
    if (timeoutMs != ReadTimeoutMs)
    {
        ApplyTimeouts(port, timeoutMs);
    }
    DWORD done = 0;
    if (!ReadFile(port, buffer, static_cast<DWORD>(minimum), &done, nullptr))
    {
        Lost = Lost || DeviceGone();
    }
    if (timeoutMs != ReadTimeoutMs)
    {
        ApplyTimeouts(port, ReadTimeoutMs);
    }
    return static_cast<int>(done);
}

// A stop request cancels the thread's I/O, a WriteFile in progress too: the rest is written
// all the same, so that no frame is ever cut (the target would misread every frame after it).
int CComPort::Write(const void* buffer, int count)
{
    const char* bytes = static_cast<const char*>(buffer);
    ULONGLONG deadline = GetTickCount64() + WriteTimeoutMs;
    int total = 0;
    while (total < count && GetTickCount64() < deadline)
    {
        DWORD done = 0;
        bool written = WriteFile(AsHandle(Handle), bytes + total, static_cast<DWORD>(count - total),
                                 &done, nullptr) != 0;
        total += static_cast<int>(done);
        // Only a cancelled write goes on; a time-out or a failing device ends it.
        if (written || GetLastError() != ERROR_OPERATION_ABORTED)
        {
            Lost = Lost || (!written && DeviceGone());
            break;
        }
    }
    return total;
}

uint32_t CComPort::QueryStatus(int kind)
{
    DWORD errors = 0;
    COMSTAT status;
    memset(&status, 0, sizeof status);
    ClearCommError(AsHandle(Handle), &errors, &status);
    switch (kind)
    {
    case 0:
        return status.cbInQue;
    case 1:
        return status.cbOutQue;
    case 2:
    {
        DWORD lines = 0;
        GetCommModemStatus(AsHandle(Handle), &lines);
        return ((lines & MS_CTS_ON) ? 1u : 0u) | ((lines & MS_DSR_ON) ? 2u : 0u) |
               ((lines & MS_RING_ON) ? 4u : 0u) | ((lines & MS_RLSD_ON) ? 8u : 0u);
    }
    default:
        return 0;
    }
}

bool CComPort::PurgeInput()
{
    PurgeComm(AsHandle(Handle), PURGE_RXCLEAR);
    return true;
}

bool CComPort::Close()
{
    CloseHandle(AsHandle(Handle));
    Handle = -1;
    Lost = false;
    return true;
}
