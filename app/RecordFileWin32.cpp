#include "app/RecordFile.h"

#include "base/SystemError.h"

#include <cerrno>
#include <windows.h>

namespace
{

HANDLE RecordFile = INVALID_HANDLE_VALUE;

} // namespace

// Append-only access makes every WriteFile land at the end of the file in one step, so that
// parallel runs sharing the file never overwrite each other's lines (the C runtime's _O_APPEND
// seeks and writes in two).
bool OpenRecordFile(const char* path)
{
    if (RecordFile != INVALID_HANDLE_VALUE)
    {
        CloseHandle(RecordFile);
    }
    RecordFile = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (RecordFile == INVALID_HANDLE_VALUE)
    {
        errno = ErrnoOfWindowsError(GetLastError());
        return false;
    }
    return true;
}

bool AppendToRecordFile(const char* text, size_t length)
{
    DWORD written = 0;
    bool wrote = WriteFile(RecordFile, text, static_cast<DWORD>(length), &written, nullptr) != 0;
    if (written != length)
    {
        errno = wrote ? ENOSPC : ErrnoOfWindowsError(GetLastError());
        return false;
    }
    return true;
}
