#include "app/RecordFile.h"

#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

bool AppendToFile(const char* path, const char* text, size_t length)
{
    int fd = _open(path, _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0)
    {
        return false;
    }
    int written = _write(fd, text, static_cast<unsigned>(length));
    int writeError = errno;
    bool closed = _close(fd) == 0;
    if (written != static_cast<int>(length))
    {
        errno = written < 0 ? writeError : ENOSPC;
        return false;
    }
    return closed;
}
