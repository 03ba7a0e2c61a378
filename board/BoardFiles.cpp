#include "board/BoardFiles.h"

#include "board/BoardLog.h"

#include <cerrno>
#include <cstring>

bool LoadImageFile(const std::string& path, CFlashChip& flash)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
    {
        BoardLog("cannot open image " + path + ": " + std::strerror(errno));
        return false;
    }
    std::vector<uint8_t> data(FlashSize + 1);
    const size_t length = std::fread(data.data(), 1, data.size(), file);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed || length > FlashSize)
    {
        BoardLog("image " + path + " " +
                 (failed ? "cannot be read" : "is larger than the 128 KiB flash"));
        return false;
    }
    flash.Load(data.data(), length);
    return true;
}

bool WriteDump(const std::string& path, const std::vector<uint8_t>& contents)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    bool written = file != nullptr &&
                   std::fwrite(contents.data(), 1, contents.size(), file) == contents.size();
    if (file != nullptr && std::fclose(file) != 0)
    {
        written = false;
    }
    if (!written)
    {
        BoardLog("cannot write dump " + path + ": " + std::strerror(errno));
    }
    return written;
}

CTraceFile::~CTraceFile()
{
    Close();
}

bool CTraceFile::Open(const std::string& path)
{
    Path = path;
    if (path.empty())
    {
        return true;
    }
    File = std::fopen(path.c_str(), "wb");
    if (File == nullptr)
    {
        BoardLog("cannot create trace " + path + ": " + std::strerror(errno));
        return false;
    }
    return true;
}

void CTraceFile::Record(const uint8_t* bytes, size_t count)
{
    if (File != nullptr)
    {
        std::fwrite(bytes, 1, count, File);
    }
}

void CTraceFile::Flush()
{
    if (File != nullptr)
    {
        std::fflush(File);
    }
}

bool CTraceFile::Close()
{
    if (File == nullptr)
    {
        return true;
    }
    const bool closed = std::fclose(File) == 0;
    File = nullptr;
    if (!closed)
    {
        BoardLog("cannot write trace " + Path);
    }
    return closed;
}
