#include "image/Folders.h"

#include "base/SystemError.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <direct.h>
#include <windows.h>

namespace
{

bool Failed()
{
    errno = ErrnoOfWindowsError(GetLastError());
    return false;
}

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

} // namespace

bool UserStateFolder(char (&path)[FolderPathCapacity])
{
    const char* local = getenv("LOCALAPPDATA");
    if (local == nullptr || local[0] == '\0')
    {
        errno = ENOENT;
        return false;
    }
    const int length = snprintf(path, sizeof path, "%s\\orbelt-dl", local);
    if (length < 0 || length >= static_cast<int>(sizeof path))
    {
        errno = ENAMETOOLONG;
        return false;
    }
    return true;
}

// A drive ("C:") or a share ("\\server\share") is no folder to make.
bool MakeFolders(const char* path)
{
    char partial[FolderPathCapacity];
    if (snprintf(partial, sizeof partial, "%s", path) >= static_cast<int>(sizeof partial))
    {
        errno = ENAMETOOLONG;
        return false;
    }
    const size_t length = strlen(partial);
    for (size_t at = 1; at <= length; ++at)
    {
        if (at < length && !IsSeparator(partial[at]))
        {
            continue;
        }
        const char kept = partial[at];
        partial[at] = '\0';
        const bool root = partial[at - 1] == ':' || IsSeparator(partial[at - 1]);
        if (!root && _mkdir(partial) != 0 && errno != EEXIST)
        {
            return false;
        }
        partial[at] = kept;
    }
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
    {
        return Failed();
    }
    errno = ENOTDIR;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

char PathSeparator()
{
    return '\\';
}

bool ListFolder(const char* folder, const char* suffix,
                void (*visit)(const char* name, void* context), void* context)
{
    char pattern[FolderPathCapacity + 8];
    snprintf(pattern, sizeof pattern, "%s\\*%s", folder, suffix);
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE)
    {
        return GetLastError() == ERROR_FILE_NOT_FOUND || Failed();
    }
    const size_t suffixLength = strlen(suffix);
    do
    {
        // The pattern also matches the short 8.3 names of longer suffixes.
        const size_t length = strlen(entry.cFileName);
        if (length > suffixLength && strcmp(entry.cFileName + length - suffixLength, suffix) == 0)
        {
            visit(entry.cFileName, context);
        }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return true;
}

// Shared for deleting too: the holder of a lock may remove the file while others have it open.
bool LockFile(CFileLock& lock, const char* path, bool wait)
{
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
    {
        return Failed();
    }
    OVERLAPPED whole = {};
    const DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
    if (!LockFileEx(file, flags, 0, 1, 0, &whole))
    {
        const bool busy = GetLastError() == ERROR_LOCK_VIOLATION;
        Failed();
        CloseHandle(file);
        errno = busy ? EWOULDBLOCK : errno;
        return false;
    }
    lock.Handle = reinterpret_cast<intptr_t>(file);
    return true;
}

void UnlockFile(CFileLock& lock)
{
    if (lock.Handle != -1)
    {
        HANDLE file = reinterpret_cast<HANDLE>(lock.Handle);
        OVERLAPPED whole = {};
        UnlockFileEx(file, 0, 1, 0, &whole);
        CloseHandle(file);
        lock.Handle = -1;
    }
}
