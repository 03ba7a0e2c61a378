#include "image/Folders.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

bool UserStateFolder(char (&path)[FolderPathCapacity])
{
    const char* state = getenv("XDG_STATE_HOME");
    const char* home = getenv("HOME");
    // The XDG rule: a relative XDG_STATE_HOME is to be ignored.
    const bool own = state != nullptr && state[0] == '/';
    if (!own && (home == nullptr || home[0] == '\0'))
    {
        errno = ENOENT;
        return false;
    }
    const int length = own ? snprintf(path, sizeof path, "%s/orbelt-dl", state)
                           : snprintf(path, sizeof path, "%s/.local/state/orbelt-dl", home);
    if (length < 0 || length >= static_cast<int>(sizeof path))
    {
        errno = ENAMETOOLONG;
        return false;
    }
    return true;
}

bool MakeFolders(const char* path)
{
    char partial[FolderPathCapacity];
    if (snprintf(partial, sizeof partial, "%s", path) >= static_cast<int>(sizeof partial))
    {
        errno = ENAMETOOLONG;
        return false;
    }
    for (char* at = strchr(partial + 1, '/');; at = strchr(at + 1, '/'))
    {
        if (at != nullptr)
        {
            *at = '\0';
        }
        if (mkdir(partial, 0700) != 0 && errno != EEXIST)
        {
            return false;
        }
        if (at == nullptr)
        {
            struct stat status;
            if (stat(partial, &status) != 0)
            {
                return false;
            }
            errno = ENOTDIR;
            return (status.st_mode & S_IFMT) == S_IFDIR;
        }
        *at = '/';
    }
}

char PathSeparator()
{
    return '/';
}

bool ListFolder(const char* folder, const char* suffix,
                void (*visit)(const char* name, void* context), void* context)
{
    DIR* directory = opendir(folder);
    if (directory == nullptr)
    {
        return false;
    }
    const size_t suffixLength = strlen(suffix);
    while (const struct dirent* entry = readdir(directory))
    {
        const size_t length = strlen(entry->d_name);
        if (length > suffixLength && strcmp(entry->d_name + length - suffixLength, suffix) == 0)
        {
            visit(entry->d_name, context);
        }
    }
    closedir(directory);
    return true;
}

bool LockFile(CFileLock& lock, const char* path, bool wait)
{
    const int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
    {
        return false;
    }
    // A stop request ends a wait with EINTR: signals are caught without SA_RESTART.
    if (flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB)) != 0)
    {
        const int error = errno;
        close(fd);
        errno = error;
        return false;
    }
    lock.Handle = fd;
    return true;
}

void UnlockFile(CFileLock& lock)
{
    if (lock.Handle >= 0)
    {
        close(static_cast<int>(lock.Handle));
        lock.Handle = -1;
    }
}
