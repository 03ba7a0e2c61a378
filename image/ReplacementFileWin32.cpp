#include "image/ReplacementFile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

namespace
{

char TemporaryPath[MAX_PATH + 32];

bool WriteAll(int fd, const unsigned char* data, size_t length)
{
    while (length > 0)
    {
        unsigned chunk = length > 0x10000 ? 0x10000u : static_cast<unsigned>(length);
        int written = _write(fd, data, chunk);
        if (written <= 0)
        {
            return false;
        }
        data += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

} // namespace

bool WriteReplacementFile(const char* path, const void* data, size_t length)
{
    int needed = snprintf(TemporaryPath, sizeof TemporaryPath, "%s.%lu.tmp", path,
                          static_cast<unsigned long>(GetCurrentProcessId()));
    if (needed < 0 || static_cast<size_t>(needed) >= sizeof TemporaryPath)
    {
        errno = ENAMETOOLONG;
        return false;
    }
    int fd = _open(TemporaryPath, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0)
    {
        return false;
    }
    bool written =
        WriteAll(fd, static_cast<const unsigned char*>(data), length) && _commit(fd) == 0;
    written = _close(fd) == 0 && written;
    // MoveFileEx replaces an existing file, which rename does not do on Windows.
    if (!written ||
        !MoveFileExA(TemporaryPath, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    {
        int error = written ? EACCES : errno;
        _unlink(TemporaryPath);
        errno = error;
        return false;
    }
    return true;
}
