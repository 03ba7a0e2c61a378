#include "app/RecordFile.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

bool AppendToFile(const char* path, const char* text, size_t length)
{
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
    {
        return false;
    }
    ssize_t written = write(fd, text, length);
    int writeError = errno;
    bool closed = close(fd) == 0;
    if (written != static_cast<ssize_t>(length))
    {
        errno = written < 0 ? writeError : ENOSPC;
        return false;
    }
    return closed;
}
