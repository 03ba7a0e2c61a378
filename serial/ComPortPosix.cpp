#include "serial/ComPort.h"

#include "base/Clock.h"
#include "base/Diagnostic.h"
#include "base/Stop.h"
#include "serial/DeviceClaim.h"
#include "serial/DevicePath.h"
#include "serial/LineSettings.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

CComPort TargetPort;

namespace
{

// A name that does not fit is refused whole: a cut one could name another device.
bool DevicePath(const char* number, char* path, size_t pathSize)
{
    char* end = nullptr;
    long n = strtol(number, &end, 10);
    if (end == number || *end != '\0' || n < 1 || n > MaxMappedNumber)
    {
        return false;
    }
    if (!PortDevicePath(n, path, pathSize))
    {
        Diagnose("cannot open COM%ld: %s%ld is longer than %zu bytes", n, PortVariablePrefix, n,
                 pathSize - 1);
        return false;
    }
    return true;
}

// Started with stdin, stdout or stderr closed, the device would get that descriptor: console
// text would then be sent to the target and the final key read from the line.
int AboveStandardStreams(int fd)
{
    if (fd < 0 || fd > STDERR_FILENO)
    {
        return fd;
    }
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    close(fd);
    return moved;
}

enum EWait
{
    WaitReady,
    WaitOver, // the time is up or a stop is requested
    WaitGone, // hang-up or error: an unplugged adapter must not be polled again and again
};

// Waits for events until deadlineMs. A read's wait also ends when a stop is requested.
EWait WaitFor(int fd, short events, long long deadlineMs)
{
    // Unless the run is finishing after a stop, which must not cut it short.
    const bool finishing = StopRequested() && !StopCutsShort();
    int stop = events == POLLIN && !finishing ? StopDescriptor() : -1;
    for (;;)
    {
        // One millisecond extra so that a truncated clock never ends the wait early.
        long long left = deadlineMs - ClockMilliseconds() + 1;
        if (left <= 1)
        {
            return WaitOver;
        }
        struct pollfd entries[2] = {{fd, events, 0}, {stop, POLLIN, 0}};
        const struct pollfd& entry = entries[0];
        int ready = poll(entries, stop >= 0 ? 2 : 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
        {
            continue;
        }
        if ((entry.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
        {
            return WaitGone;
        }
        if (ready <= 0 || entries[1].revents != 0)
        {
            return WaitOver;
        }
        return (entry.revents & events) != 0 ? WaitReady : WaitOver;
    }
}

// Bytes are trickling in and all that were there have been taken: those still expected need
// at least their time on the line to arrive, so the wait need not wake before. False when
// the deadline has passed or a stop is requested.
bool AwaitLine(long byteNanoseconds, int expected, long long deadlineMs)
{
    long long left = deadlineMs - ClockMilliseconds();
    if (left <= 0 || StopCutsShort())
    {
        return false;
    }
    long long pause = std::min(static_cast<long long>(expected) * byteNanoseconds, left * 1000000);
    struct timespec wait = {static_cast<time_t>(pause / 1000000000),
                            static_cast<long>(pause % 1000000000)};
    nanosleep(&wait, nullptr);
    return true;
}

// After a read or write that moved nothing (result 0 or -1 with errno): waits until the
// device is ready again. False when it will not be in time, and lost set when it never will:
// end of file on a terminal is its hang-up.
bool AwaitDevice(int fd, short events, ssize_t result, long long deadlineMs, bool& lost)
{
    if (result < 0 && errno == EAGAIN)
    {
        EWait wait = WaitFor(fd, events, deadlineMs);
        lost = lost || wait == WaitGone;
        return wait == WaitReady;
    }
    lost = lost || result == 0 || errno == EIO || errno == ENXIO || errno == ENODEV;
    return false;
}

} // namespace

bool CComPort::Open(const char* mode)
{
    char number[40];
    LineSettings line;
    char path[PATH_MAX];
    if (!ParseMode(mode, number, sizeof number, line) || !DevicePath(number, path, sizeof path))
    {
        return false;
    }
    Handle = -1;
    Lost = false;
    snprintf(DeviceText, sizeof DeviceText, "%s", path);
    // Lock files and the device opened are those of the real device, not of a link to it.
    char device[PATH_MAX];
    if (realpath(path, device) == nullptr)
    {
        snprintf(device, sizeof device, "%s", path);
    }
    if (!MayClaimDevice(path, device))
    {
        return false;
    }
    int fd = AboveStandardStreams(open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd < 0)
    {
        return RefuseDevice(path, strerror(errno));
    }
    if (!ClaimDevice(fd, path, device))
    {
        close(fd);
        return false;
    }
    Handle = fd;
    ByteNanoseconds = ByteTime(line);
    ApplyLineSettings(fd, line);
    ClaimLowLatency(fd);
    tcflush(fd, TCIOFLUSH);
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
    return ReadFor(buffer, minimum, maximum, ReadTimeoutMs);
}

int CComPort::ReadFor(void* buffer, int minimum, int maximum, int timeoutMs)
{
    long long deadline = ClockMilliseconds() + timeoutMs;
    int fd = static_cast<int>(Handle);
    char* bytes = static_cast<char*>(buffer);
    int done = 0;
    while (done < minimum)
    {
        ssize_t n = read(fd, bytes + done, maximum - done);
        if (n > 0)
        {
            done += static_cast<int>(n);
            if (done < minimum && !AwaitLine(ByteNanoseconds, maximum - done, deadline))
            {
                break;
            }
            continue;
        }
        if (n < 0 && errno == EINTR)
        {
            continue;
        }
        if (!AwaitDevice(fd, POLLIN, n, deadline, Lost))
        {
            break;
        }
    }
    return done;
}

int CComPort::Write(const void* buffer, int count)
{
    long long deadline = ClockMilliseconds() + WriteTimeoutMs;
    const char* bytes = static_cast<const char*>(buffer);
    int done = 0;
    while (done < count)
    {
        ssize_t n = write(static_cast<int>(Handle), bytes + done, count - done);
        if (n > 0)
        {
            done += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
        {
            continue;
        }
        if (!AwaitDevice(static_cast<int>(Handle), POLLOUT, n, deadline, Lost))
        {
            break;
        }
    }
    return done;
}

uint32_t CComPort::QueryStatus(int kind)
{
    int fd = static_cast<int>(Handle);
    int value = 0;
    switch (kind)
    {
    case 0:
        return ioctl(fd, FIONREAD, &value) == 0 ? static_cast<uint32_t>(value) : 0;
    case 1:
        return ioctl(fd, TIOCOUTQ, &value) == 0 ? static_cast<uint32_t>(value) : 0;
    case 2:
        if (ioctl(fd, TIOCMGET, &value) != 0)
        {
            return 0;
        }
        return ((value & TIOCM_CTS) ? 1u : 0u) | ((value & TIOCM_DSR) ? 2u : 0u) |
               ((value & TIOCM_RNG) ? 4u : 0u) | ((value & TIOCM_CAR) ? 8u : 0u);
    default:
        return 0;
    }
}

bool CComPort::PurgeInput()
{
    tcflush(static_cast<int>(Handle), TCIFLUSH);
    return true;
}

bool CComPort::Close()
{
    ReleaseDevice(static_cast<int>(Handle));
    close(static_cast<int>(Handle));
    Handle = -1;
    Lost = false;
    return true;
}
