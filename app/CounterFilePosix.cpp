#include "app/CounterFile.h"

#include "image/Folders.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

CFileLock Lock;

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
    return LockFile(Lock, lockPath, true);
}

void UnlockCounterFile()
{
    UnlockFile(Lock);
}

// Root may write any file: a counter file that nobody may write says it is not to be advanced.
bool CounterWritable(const char* path)
{
    if (geteuid() != 0)
    {
        return access(path, W_OK) == 0;
    }
    struct stat status;
    if (stat(path, &status) != 0)
    {
        return false;
    }
    errno = EACCES;
    return (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}
