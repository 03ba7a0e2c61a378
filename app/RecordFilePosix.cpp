#include "app/RecordFile.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace
{

int RecordFd = -1;

} // namespace

bool OpenRecordFile(const char* path)
{
    if (RecordFd >= 0)
    {
        close(RecordFd);
    }
    RecordFd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    return RecordFd >= 0;
}

bool AppendToRecordFile(const char* text, size_t length)
{
    ssize_t written = write(RecordFd, text, length);
    if (written != static_cast<ssize_t>(length))
    {
        errno = written < 0 ? errno : ENOSPC;
        return false;
    }
    return true;
}
