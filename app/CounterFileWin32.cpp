#include "app/CounterFile.h"

#include "base/SystemError.h"

#include <cerrno>
#include <cstdio>
#include <windows.h>

namespace
{

HANDLE LockHandle = INVALID_HANDLE_VALUE;

bool Failed()
{
    errno = ErrnoOfWindowsError(GetLastError());
    return false;
}

} // namespace

bool LockCounterFile(const char* path)
{
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
    {
        return Failed();
    }
    char lockPath[MAX_PATH + 8];
    snprintf(lockPath, sizeof lockPath, "%s.lock", path);
    LockHandle = CreateFileA(lockPath, GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (LockHandle == INVALID_HANDLE_VALUE)
    {
        return Failed();
    }
    OVERLAPPED whole = {};
    if (!LockFileEx(LockHandle, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &whole))
    {
        Failed();
        CloseHandle(LockHandle);
        LockHandle = INVALID_HANDLE_VALUE;
        return false;
    }
    return true;
}

void UnlockCounterFile()
{
    if (LockHandle != INVALID_HANDLE_VALUE)
    {
        OVERLAPPED whole = {};
        UnlockFileEx(LockHandle, 0, 1, 0, &whole);
        CloseHandle(LockHandle);
        LockHandle = INVALID_HANDLE_VALUE;
    }
}

// The replacement's MOVEFILE_WRITE_THROUGH has made the rename durable already.
bool SyncDirectoryOf(const char*)
{
    return true;
}
