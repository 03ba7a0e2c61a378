#include "image/ReplacementFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

char TemporaryPath[4096 + 16];

bool WriteAll(int fd, const unsigned char* data, size_t length)
{
    while (length > 0)
    {
        ssize_t written = write(fd, data, length);
        if (written < 0 && errno == EINTR)
        {
            continue;
        }
        if (written <= 0)
        {
            return false;
        }
        data += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

// mkstemp makes the file private; the result gets the usual permissions instead.
bool UsualPermissions(int fd)
{
    mode_t mask = umask(0);
    umask(mask);
    return fchmod(fd, 0666 & ~mask) == 0;
}

} // namespace

bool WriteReplacementFile(const char* path, const void* data, size_t length)
{
    int needed = snprintf(TemporaryPath, sizeof TemporaryPath, "%s.XXXXXX", path);
    if (needed < 0 || static_cast<size_t>(needed) >= sizeof TemporaryPath)
    {
        errno = ENAMETOOLONG;
        return false;
    }
    int fd = mkstemp(TemporaryPath);
    if (fd < 0)
    {
        return false;
    }
    bool written = UsualPermissions(fd) &&
                   WriteAll(fd, static_cast<const unsigned char*>(data), length) && fsync(fd) == 0;
    int error = errno;
    if (close(fd) != 0 && written)
    {
        written = false;
        error = errno;
    }
    if (!written || rename(TemporaryPath, path) != 0)
    {
        error = written ? errno : error;
        unlink(TemporaryPath);
        errno = error;
        return false;
    }
    return true;
}
