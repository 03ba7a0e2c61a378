#include "image/ReplacementFilePlatform.h"

#include "image/ReplacementFile.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
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

bool SyncDirectoryOf(const char* path)
{
    const char* separator = strrchr(path, '/');
    char directory[4096];
    if (separator == nullptr)
    {
        snprintf(directory, sizeof directory, ".");
    }
    else
    {
        snprintf(directory, sizeof directory, "%.*s",
                 separator == path ? 1 : static_cast<int>(separator - path), path);
    }
    int descriptor = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
    {
        return false;
    }
    bool synced = fsync(descriptor) == 0;
    int error = errno;
    close(descriptor);
    errno = error;
    return synced;
}

namespace
{

bool SameDirectory(const struct stat& status, const char* directory)
{
    struct stat other;
    return stat(directory, &other) == 0 && other.st_dev == status.st_dev &&
           other.st_ino == status.st_ino;
}

} // namespace

// Linux lists a process's descriptors in /proc/self/fd (also reached as /dev/fd); its entries
// are links whose text is no path to follow ("pipe:[4711]", a deleted file), so they are
// recognised by their directory, however it is spelt.
int DescriptorNamedBy(const char* path)
{
    const char* name = strrchr(path, '/');
    if (name == nullptr || name[1] == '\0' || strspn(name + 1, "0123456789") != strlen(name + 1) ||
        strlen(name + 1) > 9)
    {
        return -1;
    }
    char directory[4096];
    size_t length = static_cast<size_t>(name - path);
    if (length >= sizeof directory)
    {
        return -1;
    }
    memcpy(directory, path, length);
    directory[length] = '\0';
    struct stat status;
    if (stat(length == 0 ? "/" : directory, &status) != 0 ||
        !(SameDirectory(status, "/proc/self/fd") || SameDirectory(status, "/proc/thread-self/fd")))
    {
        return -1;
    }
    return atoi(name + 1);
}

int DuplicateDescriptor(int descriptor)
{
    return fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
}

bool ReadLinkText(const char* path, char* text, size_t capacity)
{
    ssize_t length = readlink(path, text, capacity);
    if (length < 0)
    {
        return false;
    }
    if (static_cast<size_t>(length) >= capacity)
    {
        errno = ENAMETOOLONG;
        return false;
    }
    text[length] = '\0';
    return true;
}

size_t DirectoryPartLength(const char* path)
{
    const char* separator = strrchr(path, '/');
    return separator == nullptr ? 0 : static_cast<size_t>(separator - path) + 1;
}

bool KeepPermissions(int descriptor, unsigned mode)
{
    return fchmod(descriptor, static_cast<mode_t>(mode & 0777)) == 0;
}

void LetWritesFailPastTheSizeLimit()
{
    signal(SIGXFSZ, SIG_IGN);
}
