#include "serial/DeviceLock.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <unistd.h>

namespace
{

const char* const LockDirectory = "/run/lock";

// Lock files name the device relative to /dev with '/' turned into '_' (LCK..ttyUSB0,
// LCK..pts_5), as minicom and lockdev do; picocom takes the last path component alone.
bool LockFileName(const char* device, bool lastComponent, char* lockPath, size_t size)
{
    const char* name = device + 5;
    if (lastComponent || strncmp(device, "/dev/", 5) != 0)
    {
        const char* slash = strrchr(device, '/');
        name = slash != nullptr ? slash + 1 : device;
    }
    int length = snprintf(lockPath, size, "%s/LCK..%s", LockDirectory, name);
    if (length < 0 || static_cast<size_t>(length) >= size)
    {
        return false;
    }
    for (char* c = lockPath + strlen(LockDirectory) + 1; *c != '\0'; ++c)
    {
        *c = *c == '/' ? '_' : *c;
    }
    return true;
}

// The process a lock file names when it is still running, otherwise 0: a lock of a process
// that has gone, or one that cannot be read, is stale.
long LiveLockOwner(const char* lockPath)
{
    int fd = open(lockPath, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
    {
        return 0;
    }
    char text[24];
    ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    text[n > 0 ? n : 0] = '\0';
    long pid = strtol(text, nullptr, 10);
    if (pid <= 0 || pid > INT_MAX || pid == getpid())
    {
        return 0;
    }
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM ? pid : 0;
}

// Our pid as the lock file's text; false (and no file) when it cannot be written.
bool CreateLockFile(const char* lockPath, int fd)
{
    char text[16];
    int length = snprintf(text, sizeof text, "%10ld\n", static_cast<long>(getpid()));
    bool written = write(fd, text, length) == length;
    close(fd);
    if (!written)
    {
        unlink(lockPath);
    }
    return written;
}

} // namespace

long LiveDeviceLock(const char* device, char* lockPath, size_t size)
{
    for (bool lastComponent : {false, true})
    {
        long owner = 0;
        if (LockFileName(device, lastComponent, lockPath, size) &&
            (owner = LiveLockOwner(lockPath)) != 0)
        {
            return owner;
        }
    }
    return 0;
}

bool TakeDeviceLock(const char* device, char* lockPath, size_t size, long& owner)
{
    owner = 0;
    if (!LockFileName(device, false, lockPath, size))
    {
        lockPath[0] = '\0';
        return true;
    }
    // A stale lock is removed once and the creation tried again.
    for (int attempt = 0; attempt < 2; ++attempt)
    {
        int fd = open(lockPath, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0)
        {
            if (!CreateLockFile(lockPath, fd))
            {
                break;
            }
            return true;
        }
        bool exists = errno == EEXIST;
        owner = LiveLockOwner(lockPath);
        if (owner != 0)
        {
            return false;
        }
        if (!exists || unlink(lockPath) != 0)
        {
            break;
        }
    }
    lockPath[0] = '\0';
    return true;
}
