// orbelt-scramble: turns a plain binary, Intel HEX or S-records into an image file for orbelt-dl,
// or an image file back into the plain binary.
#include "base/StandardStreams.h"
#include "image/Image.h"
#include "image/ImageRecords.h"
#include "image/ReplacementFile.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace
{

// A multiple of the key length, so that the key stays aligned from one chunk to the next.
unsigned char Chunk[64 * 1024];
static_assert(sizeof Chunk % ImageKeyLength == 0, "chunks must keep the key aligned");

// Written beside OUTPUT and renamed over it only when the whole image is there, so that OUTPUT
// can even be INPUT under another name and a failed run leaves OUTPUT as it was.
CReplacementFile Output;

bool Force = false;
bool Binary = false;
unsigned char Fill = 0xFF; // the erased flash

const char Usage[] = "usage: orbelt-scramble [--force] [--fill BYTE] [--binary] INPUT OUTPUT\n";
const char Help[] =
    "Scrambles INPUT with the image key into OUTPUT; applied to an image it gives\n"
    "the plain binary back. Intel HEX or S-records become the image of flash\n"
    "addresses 0 to their highest address: an INPUT named *.hex, *.ihex, *.ihx,\n"
    "*.srec, *.s19, *.s28, *.s37 or *.mot, or text that starts with ':' or with S\n"
    "and a digit, must read whole as records. Records past 0x1FFFF, the end of the\n"
    "flash, are refused.\n"
    "  --force       write binary inputs over 131072 bytes too (orbelt-dl cuts them)\n"
    "  --fill BYTE   gap value for records, 0 to 255 or 0x00 to 0xFF (default 0xFF)\n"
    "  --binary      read INPUT as a plain binary, whatever its name and content\n"
    "  --version     print the version and exit\n"
    "  -h, --help    print this text and exit\n";

int Fail(const char* what, const char* path, int error)
{
    fprintf(stderr, "orbelt-scramble: %s %s: %s\n", what, path, strerror(error));
    return 1;
}

// The next chunk of input into Chunk; length 0 at the end. On a read error, error holds the
// errno of the read that failed.
bool ReadChunk(FILE* input, size_t& length, int& error)
{
    length = fread(Chunk, 1, sizeof Chunk, input);
    error = errno;
    return ferror(input) == 0;
}

// The bytes are counted as they come, so that a pipe is held to the limit as a file is.
int ScrambleBinary(FILE* input, size_t length, const char* inputPath, const char* outputPath)
{
    if (!OpenReplacement(Output, outputPath))
    {
        return Fail("cannot write", outputPath, Output.Error);
    }
    unsigned long long total = 0;
    int error = 0;
    while (length > 0)
    {
        total += length;
        if (!Force && total > static_cast<unsigned long long>(ImageCapacity))
        {
            fprintf(stderr,
                    "orbelt-scramble: %s is larger than %d bytes; orbelt-dl would cut it "
                    "(use --force to write it anyway)\n",
                    inputPath, ImageCapacity);
            return 1;
        }
        ApplyImageKey(Chunk, length);
        if (!WriteReplacement(Output, Chunk, length))
        {
            return Fail("cannot write", outputPath, Output.Error);
        }
        if (!ReadChunk(input, length, error))
        {
            return Fail("cannot read", inputPath, error);
        }
    }
    return 0;
}

int RecordFault(const char* inputPath)
{
    if (RecordErrorLine == 0)
    {
        fprintf(stderr, "orbelt-scramble: %s: %s\n", inputPath, RecordError);
    }
    else
    {
        fprintf(stderr, "orbelt-scramble: %s: line %lu: %s\n", inputPath, RecordErrorLine,
                RecordError);
    }
    return 1;
}

// Records are assembled whole in ImageBuffer before a byte is written.
int ScrambleRecords(FILE* input, size_t length, ERecordFormat format, const char* inputPath,
                    const char* outputPath)
{
    StartRecords(format, Fill);
    int error = 0;
    while (length > 0)
    {
        if (!FeedRecords(Chunk, length))
        {
            return RecordFault(inputPath);
        }
        if (!ReadChunk(input, length, error))
        {
            return Fail("cannot read", inputPath, error);
        }
    }
    if (!FinishRecords())
    {
        return RecordFault(inputPath);
    }
    ApplyImageKey(ImageBuffer, static_cast<size_t>(ImageLength));
    if (!OpenReplacement(Output, outputPath) ||
        !WriteReplacement(Output, ImageBuffer, static_cast<size_t>(ImageLength)))
    {
        return Fail("cannot write", outputPath, Output.Error);
    }
    return 0;
}

int ScrambleInput(FILE* input, const char* inputPath, const char* outputPath)
{
    size_t length = 0;
    int error = 0;
    if (!ReadChunk(input, length, error))
    {
        return Fail("cannot read", inputPath, error);
    }
    ERecordFormat format = Binary ? ERecordFormat::None : RecordFormatOf(inputPath, Chunk, length);
    if (format == ERecordFormat::None)
    {
        return ScrambleBinary(input, length, inputPath, outputPath);
    }
    return ScrambleRecords(input, length, format, inputPath, outputPath);
}

// Not what keeps the input safe (the replacement file does that), but the same file given twice
// is a slip that would replace a HEX source with its image. Windows reports no inode numbers,
// so there only the same path text is seen.
bool SameFile(const char* first, const char* second)
{
    struct stat a;
    struct stat b;
    if (strcmp(first, second) == 0)
    {
        return true;
    }
    return stat(first, &a) == 0 && stat(second, &b) == 0 && a.st_ino != 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

int Scramble(const char* inputPath, const char* outputPath)
{
    if (SameFile(inputPath, outputPath))
    {
        fprintf(stderr, "orbelt-scramble: INPUT and OUTPUT must be different files\n");
        return 1;
    }
    FILE* input = fopen(inputPath, "rb");
    if (input == nullptr)
    {
        int error = errno;
        // Linux opens a directory and fails at the first read; Windows refuses to open it.
        struct stat status;
        bool directory = stat(inputPath, &status) == 0 && (status.st_mode & S_IFMT) == S_IFDIR;
        return Fail("cannot read", inputPath, directory ? EISDIR : error);
    }
    int status = ScrambleInput(input, inputPath, outputPath);
    // Closed before the rename: Windows cannot replace a file that is still open.
    fclose(input);
    if (status == 0 && !CommitReplacement(Output))
    {
        status = Fail("cannot write", outputPath, Output.Error);
    }
    AbandonReplacement(Output);
    return status;
}

// Decimal or 0x-prefixed hexadecimal, 0 to 255.
bool ParseByte(const char* text, unsigned char& value)
{
    bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* digits = hex ? text + 2 : text;
    char* end = nullptr;
    errno = 0;
    unsigned long number = strtoul(digits, &end, hex ? 16 : 10);
    bool startsWithDigit = hex ? isxdigit(static_cast<unsigned char>(digits[0])) != 0
                               : isdigit(static_cast<unsigned char>(digits[0])) != 0;
    if (!startsWithDigit || *end != '\0' || errno != 0 || number > 255)
    {
        return false;
    }
    value = static_cast<unsigned char>(number);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    KeepStandardStreamsOpen();
    LetWritesFailPastTheSizeLimit();
    const char* paths[2] = {nullptr, nullptr};
    int pathCount = 0;
    for (int i = 1; i < argc; ++i)
    {
        if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0)
        {
            printf("%s%s", Usage, Help);
            return 0;
        }
        if (strcmp(argv[i], "--version") == 0)
        {
            printf("orbelt-scramble %s\n", ORBELT_VERSION);
            return 0;
        }
        if (strcmp(argv[i], "--force") == 0)
        {
            Force = true;
        }
        else if (strcmp(argv[i], "--binary") == 0)
        {
            Binary = true;
        }
        else if (strcmp(argv[i], "--fill") == 0)
        {
            if (i + 1 == argc || !ParseByte(argv[++i], Fill))
            {
                fprintf(stderr,
                        "orbelt-scramble: --fill needs a byte value, 0 to 255 or 0x00 to "
                        "0xFF\n%s",
                        Usage);
                return 2;
            }
        }
        else if (argv[i][0] == '-' && argv[i][1] != '\0')
        {
            fprintf(stderr, "orbelt-scramble: unknown option %s\n%s", argv[i], Usage);
            return 2;
        }
        else if (pathCount < 2)
        {
            paths[pathCount++] = argv[i];
        }
        else
        {
            pathCount = 3;
        }
    }
    if (pathCount != 2)
    {
        fprintf(stderr, "%s", Usage);
        return 2;
    }
    return Scramble(paths[0], paths[1]);
}
