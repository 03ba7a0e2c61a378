#include "serial/DeviceClaim.h"

#include "base/Diagnostic.h"
#include "serial/ComPort.h"
#include "serial/DeviceLock.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace
{

// What a claim changed on a device, undone when the port closes or the process ends (only by
// the process that opened it, not a forked child). Fd 0 marks a free entry: a port never gets
// descriptors 0 to 2.
struct DeviceTraces
{
    int Fd;
    pid_t Owner;
    bool LowLatencyAdded;
    char LockPath[LockPathCapacity]; // our UUCP lock file, empty when we hold none
};

DeviceTraces OpenDevices[4];

DeviceTraces* FindTraces(int fd)
{
    DeviceTraces* found =
        std::find_if(std::begin(OpenDevices), std::end(OpenDevices),
                     [fd](const DeviceTraces& traces) { return traces.Fd == fd; });
    return found != std::end(OpenDevices) ? found : nullptr;
}

bool RefuseLocked(const char* path, long owner, const char* lockPath)
{
    char reason[400];
    snprintf(reason, sizeof reason, "locked by process %ld (%s)", owner, lockPath);
    return RefuseDevice(path, reason);
}

// The flock comes first, so that of two downloaders only one ever gets to the lock file.
bool TakeExclusive(int fd, const char* path, const char* device, DeviceTraces& traces)
{
    if (!isatty(fd))
    {
        return RefuseDevice(path, "not a terminal");
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
    {
        return RefuseDevice(path, "in use by another program");
    }
    char lockPath[LockPathCapacity];
    long owner = 0;
    if (!TakeDeviceLock(device, lockPath, sizeof lockPath, owner))
    {
        return RefuseLocked(path, owner, lockPath);
    }
    snprintf(traces.LockPath, sizeof traces.LockPath, "%s", lockPath);
    ioctl(fd, TIOCEXCL);
    return true;
}

void UndoTraces(DeviceTraces& traces)
{
    ioctl(traces.Fd, TIOCNXCL);
    struct serial_struct serial;
    if (traces.LowLatencyAdded && ioctl(traces.Fd, TIOCGSERIAL, &serial) == 0)
    {
        serial.flags &= ~ASYNC_LOW_LATENCY;
        ioctl(traces.Fd, TIOCSSERIAL, &serial);
    }
    if (traces.LockPath[0] != '\0')
    {
        unlink(traces.LockPath);
    }
    traces = DeviceTraces();
}

} // namespace

bool RefuseDevice(const char* path, const char* reason)
{
    Diagnose("cannot open %s: %s", path, reason);
    return false;
}

bool MayClaimDevice(const char* path, const char* device)
{
    if (FindTraces(0) == nullptr)
    {
        return RefuseDevice(path, "too many ports open");
    }
    char lockPath[LockPathCapacity];
    long owner = LiveDeviceLock(device, lockPath, sizeof lockPath);
    return owner == 0 || RefuseLocked(path, owner, lockPath);
}

bool ClaimDevice(int fd, const char* path, const char* device)
{
    DeviceTraces* traces = FindTraces(0);
    if (traces == nullptr)
    {
        return RefuseDevice(path, "too many ports open");
    }
    if (!TakeExclusive(fd, path, device, *traces))
    {
        *traces = DeviceTraces();
        return false;
    }
    static bool undoAtExit = atexit(ReleaseOpenPorts) == 0;
    (void)undoAtExit;
    traces->Fd = fd;
    traces->Owner = getpid();
    return true;
}

// True in the traces when the flag was added, so that the release can put it back.
void ClaimLowLatency(int fd)
{
    DeviceTraces* traces = fd > STDERR_FILENO ? FindTraces(fd) : nullptr;
    struct serial_struct serial;
    if (traces == nullptr || ioctl(fd, TIOCGSERIAL, &serial) != 0 ||
        (serial.flags & ASYNC_LOW_LATENCY) != 0)
    {
        return;
    }
    serial.flags |= ASYNC_LOW_LATENCY;
    traces->LowLatencyAdded = ioctl(fd, TIOCSSERIAL, &serial) == 0;
}

void ReleaseDevice(int fd)
{
    DeviceTraces* traces = fd > STDERR_FILENO ? FindTraces(fd) : nullptr;
    if (traces != nullptr)
    {
        UndoTraces(*traces);
    }
}

// The download never closes its port: the process end does.
void ReleaseOpenPorts()
{
    for (DeviceTraces& traces : OpenDevices)
    {
        if (traces.Fd != 0 && traces.Owner == getpid())
        {
            UndoTraces(traces);
        }
    }
}
