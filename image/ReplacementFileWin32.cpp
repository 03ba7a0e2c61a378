#include "image/ReplacementFilePlatform.h"

#include "base/SystemError.h"
#include "image/ReplacementFile.h"

#include <cerrno>
#include <climits>
#include <cstring>
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

// MoveFileExA's MOVEFILE_WRITE_THROUGH has made the rename durable already.
bool SyncDirectoryOf(const char*)
{
    return true;
}

// Windows has no paths that name descriptors and no links a program would need to follow here.
int DescriptorNamedBy(const char*)
{
    return -1;
}

int DuplicateDescriptor(int descriptor)
{
    return _dup(descriptor);
}

bool ReadLinkText(const char*, char*, size_t)
{
    errno = EINVAL;
    return false;
}

size_t DirectoryPartLength(const char* path)
{
    size_t length = strlen(path);
    while (length > 0 && strchr("/\\:", path[length - 1]) == nullptr)
    {
        --length;
    }
    return length;
}

// A read-only target cannot be replaced at all; the other permissions are the directory's.
bool KeepPermissions(int, unsigned)
{
    return true;
}

void LetWritesFailPastTheSizeLimit() {}
