#include "image/ReplacementFilePlatform.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

int CreateNewFile(const char* path)
{
    return open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}

int OpenExistingFile(const char* path)
{
    return open(path, O_WRONLY | O_CLOEXEC);
}

long WriteToFile(int descriptor, const void* data, size_t length)
{
    return static_cast<long>(write(descriptor, data, length));
}

bool SyncFile(int descriptor)
{
    return fsync(descriptor) == 0;
}

bool CloseFile(int descriptor)
{
    return close(descriptor) == 0;
}

bool MoveOverTarget(const char* source, const char* target)
{
    return rename(source, target) == 0;
}

unsigned long ProcessNumber()
{
    return static_cast<unsigned long>(getpid());
}
