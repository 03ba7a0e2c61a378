#include "image/ReplacementFile.h"

#include "image/ReplacementFilePlatform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
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

// Short and of fixed length, so that it fits wherever the target's own name fits; or, for a
// single writer, of the name it asks for.
bool CreateTemporary(CReplacementFile& file)
{
    if (file.Suffix != nullptr)
    {
        snprintf(file.Temporary, sizeof file.Temporary, "%s%s", file.Target, file.Suffix);
        remove(file.Temporary);
        file.Descriptor = CreateNewFile(file.Temporary);
        if (file.Descriptor >= 0)
        {
            return true;
        }
        file.Temporary[0] = '\0';
        return Failed(file, errno);
    }
    size_t directoryLength = DirectoryPartLength(file.Target);
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        snprintf(file.Temporary, sizeof file.Temporary, "%.*s.orbelt-%lu-%d.tmp",
                 static_cast<int>(directoryLength), file.Target, ProcessNumber(), attempt);
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

// A relative link text is relative to the link's directory: it takes the place of the link's
// own name in the path.
bool FollowLink(CReplacementFile& file, const char* text)
{
    static char joined[ReplacementPathCapacity];
    size_t directoryLength = text[0] == '/' ? 0 : DirectoryPartLength(file.Target);
    if (snprintf(joined, sizeof joined, "%.*s%s", static_cast<int>(directoryLength), file.Target,
                 text) >= static_cast<int>(sizeof joined))
    {
        return Failed(file, ENAMETOOLONG);
    }
    memcpy(file.Target, joined, sizeof joined);
    return true;
}

// Follows file.Target's links until it names a descriptor (opened as a duplicate) or is no
// link; the path it ends at is the final target.
bool ResolveTarget(CReplacementFile& file)
{
    static char text[ReplacementPathCapacity];
    const int maxLinks = 40; // as the kernel's own limit
    for (int links = 0; links <= maxLinks; ++links)
    {
        int named = DescriptorNamedBy(file.Target);
        if (named >= 0)
        {
            file.Direct = true;
            file.Descriptor = DuplicateDescriptor(named);
            return file.Descriptor >= 0 || Failed(file, errno);
        }
        if (!ReadLinkText(file.Target, text, sizeof text))
        {
            return errno == EINVAL || errno == ENOENT || Failed(file, errno);
        }
        if (!FollowLink(file, text))
        {
            return false;
        }
    }
    return Failed(file, ELOOP);
}

bool OpenFinalTarget(CReplacementFile& file)
{
    struct stat status;
    if (stat(file.Target, &status) != 0)
    {
        return CreateTemporary(file);
    }
    if ((status.st_mode & S_IFMT) == S_IFDIR)
    {
        return Failed(file, EISDIR);
    }
    if (IsDeviceOrPipe(status))
    {
        file.Direct = true;
        file.Descriptor = OpenExistingFile(file.Target);
        return file.Descriptor >= 0 || Failed(file, errno);
    }
    return CreateTemporary(file) &&
           (KeepPermissions(file.Descriptor, status.st_mode) || Failed(file, errno));
}

bool Open(CReplacementFile& file, const char* targetPath, const char* suffix)
{
    file.Suffix = suffix;
    file.Descriptor = -1;
    file.Direct = false;
    file.Temporary[0] = '\0';
    if (snprintf(file.Target, sizeof file.Target, "%s", targetPath) >=
        static_cast<int>(sizeof file.Target))
    {
        return Failed(file, ENAMETOOLONG);
    }
    return ResolveTarget(file) && (file.Direct || OpenFinalTarget(file));
}

} // namespace

bool OpenReplacement(CReplacementFile& file, const char* targetPath)
{
    return Open(file, targetPath, nullptr);
}

bool OpenReplacementBeside(CReplacementFile& file, const char* targetPath, const char* suffix)
{
    return Open(file, targetPath, suffix);
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

bool CommitReplacementDurably(CReplacementFile& file)
{
    const bool direct = file.Direct;
    return CommitReplacement(file) &&
           (direct || SyncDirectoryOf(file.Target) || Failed(file, errno));
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
