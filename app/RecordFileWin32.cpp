#include "app/RecordFile.h"

#include "base/SystemError.h"

#include <cerrno>
#include <windows.h>

// Append-only access makes every WriteFile land at the end of the file in one step, so that
// parallel runs sharing the file never overwrite each other's lines (the C runtime's _O_APPEND
// seeks and writes in two).
bool AppendToFile(const char* path, const char* text, size_t length)
{
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
    {
        errno = ErrnoOfWindowsError(GetLastError());
        return false;
    }
    DWORD written = 0;
    bool wrote = WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr) != 0;
    int writeError = wrote ? ENOSPC : ErrnoOfWindowsError(GetLastError());
    CloseHandle(file);
    if (written != length)
    {
        errno = writeError;
        return false;
    }
    return true;
}
