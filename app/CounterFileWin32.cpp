#include "app/CounterFile.h"

#include "base/SystemError.h"
#include "image/Folders.h"

#include <cerrno>
#include <cstdio>
#include <windows.h>

namespace
{

CFileLock Lock;

} // namespace

bool LockCounterFile(const char* path)
{
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
    {
        errno = ErrnoOfWindowsError(GetLastError());
        return false;
    }
    char lockPath[MAX_PATH + 8];
    snprintf(lockPath, sizeof lockPath, "%s.lock", path);
    return LockFile(Lock, lockPath, true);
}

void UnlockCounterFile()
{
    UnlockFile(Lock);
}

bool CounterWritable(const char* path)
{
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
    {
        errno = ErrnoOfWindowsError(GetLastError());
        return false;
    }
    errno = EACCES;
    return (attributes & FILE_ATTRIBUTE_READONLY) == 0;
}
