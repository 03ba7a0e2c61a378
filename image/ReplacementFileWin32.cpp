#include "image/ReplacementFilePlatform.h"

#include "base/SystemError.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>

// Binary mode: the C runtime's default text mode would turn every 0x0A into 0x0D 0x0A.
int CreateNewFile(const char* path)
{
    return _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                 _S_IREAD | _S_IWRITE);
}

int OpenExistingFile(const char* path)
{
    return _open(path, _O_WRONLY | _O_BINARY | _O_NOINHERIT);
}

long WriteToFile(int descriptor, const void* data, size_t length)
{
    unsigned count = length > INT_MAX ? INT_MAX : static_cast<unsigned>(length);
    return _write(descriptor, data, count);
}

bool SyncFile(int descriptor)
{
    return _commit(descriptor) == 0;
}

bool CloseFile(int descriptor)
{
    return _close(descriptor) == 0;
}

// rename() of the C runtime refuses an existing target.
bool MoveOverTarget(const char* source, const char* target)
{
    if (MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    {
        return true;
    }
    errno = ErrnoOfWindowsError(GetLastError());
    return false;
}

unsigned long ProcessNumber()
{
    return static_cast<unsigned long>(_getpid());
}
