#include "image/ReplacementFile.h"

#include "image/ReplacementFilePlatform.h"

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>

namespace
{

bool Failed(CReplacementFile& file, int error)
{
    file.Error = error;
    return false;
}

// A device or a pipe has no place a rename could put a file into; creating one beside it
// (in /dev) and renaming it over would replace the device node itself.
bool IsDeviceOrPipe(const struct stat& status)
{
    unsigned type = status.st_mode & S_IFMT;
    return type != S_IFREG && type != S_IFDIR;
}

bool CreateTemporary(CReplacementFile& file)
{
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        snprintf(file.Temporary, sizeof file.Temporary, "%s.tmp%lu-%d", file.Target,
                 ProcessNumber(), attempt);
        file.Descriptor = CreateNewFile(file.Temporary);
        if (file.Descriptor >= 0)
        {
            return true;
        }
        if (errno != EEXIST)
        {
            break;
        }
    }
    file.Temporary[0] = '\0';
    return Failed(file, errno);
}

} // namespace

bool OpenReplacement(CReplacementFile& file, const char* targetPath)
{
    file.Descriptor = -1;
    file.Direct = false;
    file.Temporary[0] = '\0';
    if (snprintf(file.Target, sizeof file.Target, "%s", targetPath) >=
        static_cast<int>(sizeof file.Target))
    {
        return Failed(file, ENAMETOOLONG);
    }
    struct stat status;
    if (stat(targetPath, &status) == 0)
    {
        if ((status.st_mode & S_IFMT) == S_IFDIR)
        {
            return Failed(file, EISDIR);
        }
        if (IsDeviceOrPipe(status))
        {
            file.Direct = true;
            file.Descriptor = OpenExistingFile(targetPath);
            return file.Descriptor >= 0 || Failed(file, errno);
        }
    }
    return CreateTemporary(file);
}

bool WriteReplacement(CReplacementFile& file, const void* data, size_t length)
{
    const char* bytes = static_cast<const char*>(data);
    while (length > 0)
    {
        long written = WriteToFile(file.Descriptor, bytes, length);
        if (written < 0 && errno == EINTR)
        {
            continue;
        }
        if (written <= 0)
        {
            return Failed(file, written < 0 ? errno : EIO);
        }
        bytes += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

bool CommitReplacement(CReplacementFile& file)
{
    int descriptor = file.Descriptor;
    file.Descriptor = -1;
    if (file.Direct)
    {
        return CloseFile(descriptor) || Failed(file, errno);
    }
    if (!SyncFile(descriptor))
    {
        int error = errno;
        CloseFile(descriptor);
        return Failed(file, error);
    }
    if (!CloseFile(descriptor) || !MoveOverTarget(file.Temporary, file.Target))
    {
        return Failed(file, errno);
    }
    file.Temporary[0] = '\0';
    return true;
}

void AbandonReplacement(CReplacementFile& file)
{
    if (file.Descriptor >= 0)
    {
        CloseFile(file.Descriptor);
        file.Descriptor = -1;
    }
    if (file.Temporary[0] != '\0')
    {
        remove(file.Temporary);
        file.Temporary[0] = '\0';
    }
}
