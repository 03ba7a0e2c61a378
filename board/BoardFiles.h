#pragma once

#include "board/FlashChip.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Fills the flash from the image file. Logs why not, as failures at start-up end the board.
bool LoadImageFile(const std::string& path, CFlashChip& flash);
// Writes the whole flash array to path. Logs why not.
bool WriteDump(const std::string& path, const std::vector<uint8_t>& contents);

// The raw record of every byte the host sent.
class CTraceFile
{
  public:
    CTraceFile() = default;
    CTraceFile(const CTraceFile&) = delete;
    CTraceFile& operator=(const CTraceFile&) = delete;
    ~CTraceFile();

    // An empty path records nothing. Logs why the file cannot be created.
    bool Open(const std::string& path);
    void Record(const uint8_t* bytes, size_t count);
    // Makes what was recorded visible to readers of the file.
    void Flush();
    // False, logged, when the record could not be written completely.
    bool Close();

  private:
    std::string Path;
    FILE* File = nullptr;
};
