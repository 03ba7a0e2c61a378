#include "image/Image.h"

#include "base/ConsoleOut.h"
#include "base/Diagnostic.h"
#include "image/ImageOpen.h"
#include "image/ReplacementFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

unsigned char ImageBuffer[ImageCapacity];
int ImageLength = 0;
bool ImageCutShort = false;

const unsigned char ImageKey[ImageKeyLength] = {
    0x5A, 0xC3, 0x17, 0x8E, 0x29, 0xF4, 0x6B, 0xD0, 0x3C, 0x91, 0xE7, 0x42, 0xB8, 0x0D, 0x76, 0xAF,
    0x13, 0x6E, 0xD9, 0x24, 0x85, 0xFA, 0x4F, 0xB2, 0x67, 0x0C, 0xA1, 0x38, 0xDE, 0x53, 0x9B, 0xE0,
};

void ApplyImageKey(unsigned char* data, size_t length)
{
    for (size_t i = 0; i < length; ++i)
    {
        data[i] ^= ImageKey[i % ImageKeyLength];
    }
}

void DescrambleImage()
{
    ApplyImageKey(ImageBuffer, sizeof ImageBuffer);
}

// Whatever opens and reads is an image (a pipe, a device, a FIFO with a writer). A directory
// opens on some systems but has no bytes. Looking at the opened file leaves no gap between
// the check and the open.
static FILE* OpenImage(const char* path)
{
    char line[ReplacementPathCapacity + 128];
    snprintf(line, sizeof line,
             "orbelt-dl: image %s is a pipe that nothing writes yet: the run waits for it", path);
    NoteSlowOpen(path, line);
    FILE* file = fopen(path, "rb");
    EndSlowOpen();
    struct stat status;
    if (file != nullptr &&
        (fstat(fileno(file), &status) != 0 || (status.st_mode & S_IFMT) == S_IFDIR))
    {
        fclose(file);
        errno = EISDIR;
        return nullptr;
    }
    return file;
}

// A regular file tells its size; anything else tells by a byte more, which a writer that has
// more to give gives.
static bool HasMoreBytes(FILE* file)
{
    struct stat status;
    if (fstat(fileno(file), &status) == 0 && (status.st_mode & S_IFMT) == S_IFREG)
    {
        return status.st_size > static_cast<off_t>(ImageCapacity);
    }
    return fgetc(file) != EOF;
}

bool LoadImage(const char* path)
{
    memset(ImageBuffer, 0, sizeof ImageBuffer);
    FILE* file = OpenImage(path);
    if (file == nullptr)
    {
        Diagnose("cannot open image %s: %s", path, strerror(errno));
        ConsoleText("File not found\n");
        return false;
    }
    size_t length = fread(ImageBuffer, 1, sizeof ImageBuffer, file);
    int readError = errno;
    bool readFailed = ferror(file) != 0;
    ImageCutShort = !readFailed && length == sizeof ImageBuffer && HasMoreBytes(file);
    if (ImageCutShort)
    {
        Warn("image %s is larger than %u bytes: only the first %u bytes are used", path,
             static_cast<unsigned>(sizeof ImageBuffer), static_cast<unsigned>(sizeof ImageBuffer));
    }
    fclose(file);
    if (readFailed)
    {
        // A partly read image must never reach the flash.
        Diagnose("cannot read image %s: %s", path, strerror(readError));
        ConsoleText("File read error\n");
        return false;
    }
    if (length == 0)
    {
        // Erasing the chip and programming nothing would pass for a successful download.
        NoteReason("Empty image file");
        ConsoleText("Empty image file\n");
        return false;
    }
    ImageLength = static_cast<int>(length);
    DescrambleImage();
    return true;
}

namespace
{

CReplacementFile SavedImage;
bool SavePrepared = false;

bool RefuseSave(const char* path)
{
    Diagnose("cannot write %s: %s", path, strerror(SavedImage.Error));
    AbandonReplacement(SavedImage);
    SavePrepared = false;
    return false;
}

} // namespace

bool PrepareSaveImage(const char* path)
{
    SavePrepared = OpenReplacement(SavedImage, path);
    return SavePrepared || RefuseSave(path);
}

bool SaveImage(const char* path)
{
    if (!SavePrepared && !PrepareSaveImage(path))
    {
        return false;
    }
    SavePrepared = false;
    // Scrambled in place for the write and descrambled again after it: no second buffer.
    ApplyImageKey(ImageBuffer, static_cast<size_t>(ImageLength));
    bool saved = WriteReplacement(SavedImage, ImageBuffer, static_cast<size_t>(ImageLength)) &&
                 CommitReplacement(SavedImage);
    ApplyImageKey(ImageBuffer, static_cast<size_t>(ImageLength));
    return saved || RefuseSave(path);
}

void AbandonSaveImage()
{
    AbandonReplacement(SavedImage);
    SavePrepared = false;
}
