#include "app/CounterFile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace
{

int LockFd = -1;

} // namespace

// The lock file goes beside the file the path finally names, so that every spelling of the
// path, links included, meets the same lock.
bool LockCounterFile(const char* path)
{
    char lockPath[PATH_MAX + 8];
    char* real = realpath(path, nullptr);
    if (real == nullptr)
    {
        return false;
    }
    snprintf(lockPath, sizeof lockPath, "%s.lock", real);
    free(real);
    LockFd = open(lockPath, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (LockFd < 0)
    {
        return false;
    }
    if (flock(LockFd, LOCK_EX) != 0)
    {
        int error = errno;
        UnlockCounterFile();
        errno = error;
        return false;
    }
    return true;
}

void UnlockCounterFile()
{
    if (LockFd >= 0)
    {
        close(LockFd);
        LockFd = -1;
    }
}

bool SyncDirectoryOf(const char* path)
{
    const char* separator = strrchr(path, '/');
    char directory[PATH_MAX];
    if (separator == nullptr)
    {
        snprintf(directory, sizeof directory, ".");
    }
    else
    {
        snprintf(directory, sizeof directory, "%.*s",
                 separator == path ? 1 : static_cast<int>(separator - path), path);
    }
    int descriptor = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
    {
        return false;
    }
    bool synced = fsync(descriptor) == 0;
    int error = errno;
    close(descriptor);
    errno = error;
    return synced;
}
