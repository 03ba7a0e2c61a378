#include "tests/support/Files.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

CTempDirectory::CTempDirectory()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/orbelt-test-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr)
    {
        Directory = pattern;
    }
}

CTempDirectory::~CTempDirectory()
{
    if (!Directory.empty())
    {
        std::error_code ignored;
        std::filesystem::remove_all(Directory, ignored);
    }
}

static bool WriteRaw(const std::string& path, const void* data, size_t size)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
    {
        return false;
    }
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    return WriteRaw(path, bytes.data(), bytes.size());
}

bool WriteFileText(const std::string& path, const std::string& text)
{
    return WriteRaw(path, text.data(), text.size());
}

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes)
{
    bytes.clear();
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
    {
        return false;
    }
    uint8_t buffer[65536];
    size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0)
    {
        bytes.insert(bytes.end(), buffer, buffer + count);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    return !failed;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path)
{
    std::vector<uint8_t> bytes;
    ReadFileBytes(path, bytes);
    return bytes;
}

std::string ReadFileText(const std::string& path)
{
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

bool FileExists(const std::string& path)
{
    struct stat status
    {
    };
    return lstat(path.c_str(), &status) == 0;
}
