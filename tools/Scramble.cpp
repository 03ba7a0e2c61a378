// orbelt-scramble: turns a plain binary into an image file for orbelt-dl, or back.
#include "image/Image.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace
{

// A multiple of the key length, so that the key stays aligned from one chunk to the next.
unsigned char Chunk[64 * 1024];
static_assert(sizeof Chunk % ImageKeyLength == 0, "chunks must keep the key aligned");

const char Usage[] = "usage: orbelt-scramble [--force] INPUT OUTPUT\n";

int Fail(const char* what, const char* path)
{
    fprintf(stderr, "orbelt-scramble: %s %s: %s\n", what, path, strerror(errno));
    return 1;
}

bool FitsImage(FILE* input)
{
    if (fseek(input, 0, SEEK_END) != 0)
    {
        return true;
    }
    long size = ftell(input);
    rewind(input);
    return size <= ImageCapacity;
}

// Writing over the input would truncate it before it is read. Windows reports no inode
// numbers, so there only the path text is compared.
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

int Scramble(const char* inputPath, const char* outputPath, bool force)
{
    if (SameFile(inputPath, outputPath))
    {
        fprintf(stderr, "orbelt-scramble: INPUT and OUTPUT must be different files\n");
        return 1;
    }
    FILE* input = fopen(inputPath, "rb");
    if (input == nullptr)
    {
        return Fail("cannot read", inputPath);
    }
    if (!force && !FitsImage(input))
    {
        fclose(input);
        fprintf(stderr,
                "orbelt-scramble: %s is larger than %d bytes; orbelt-dl would cut it "
                "(use --force to write it anyway)\n",
                inputPath, ImageCapacity);
        return 1;
    }
    FILE* output = fopen(outputPath, "wb");
    if (output == nullptr)
    {
        fclose(input);
        return Fail("cannot write", outputPath);
    }
    bool written = true;
    size_t length = 0;
    while (written && (length = fread(Chunk, 1, sizeof Chunk, input)) > 0)
    {
        ApplyImageKey(Chunk, length);
        written = fwrite(Chunk, 1, length, output) == length;
    }
    bool readFailed = ferror(input) != 0;
    fclose(input);
    if (fclose(output) != 0)
    {
        written = false;
    }
    if (readFailed)
    {
        return Fail("cannot read", inputPath);
    }
    return written ? 0 : Fail("cannot write", outputPath);
}

} // namespace

int main(int argc, char** argv)
{
    bool force = false;
    const char* paths[2] = {nullptr, nullptr};
    int pathCount = 0;
    for (int i = 1; i < argc; ++i)
    {
        if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0)
        {
            printf("%s", Usage);
            printf("Scrambles INPUT with the image key into OUTPUT; applied to an image it gives\n"
                   "the plain binary back. Inputs over %d bytes need --force.\n",
                   ImageCapacity);
            return 0;
        }
        if (strcmp(argv[i], "--force") == 0)
        {
            force = true;
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
    return Scramble(paths[0], paths[1], force);
}
