#include "app/CounterFile.h"

#include "image/Folders.h"

#include <climits>
#include <cstdio>
#include <cstdlib>

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
