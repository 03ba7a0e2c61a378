#include "app/RecordFile.h"

#include <cerrno>
#include <windows.h>

namespace
{

int ErrnoOf(DWORD error)
{
    switch (error)
    {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    default:
        return EIO;
    }
}

} // namespace

// Append-only access makes every WriteFile land at the end of the file in one step, so that
// parallel runs sharing the file never overwrite each other's lines (the C runtime's _O_APPEND
// seeks and writes in two).
bool AppendToFile(const char* path, const char* text, size_t length)
{
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
    {
        errno = ErrnoOf(GetLastError());
        return false;
    }
    DWORD written = 0;
    bool wrote = WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr) != 0;
    int writeError = wrote ? ENOSPC : ErrnoOf(GetLastError());
    CloseHandle(file);
    if (written != length)
    {
        errno = writeError;
        return false;
    }
    return true;
}
