#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A fresh directory under $TMPDIR (or /tmp), removed with all its contents at destruction.
class CTempDirectory
{
  public:
    CTempDirectory();
    CTempDirectory(const CTempDirectory&) = delete;
    CTempDirectory& operator=(const CTempDirectory&) = delete;
    ~CTempDirectory();

    bool Valid() const { return !Directory.empty(); }
    const std::string& Path() const { return Directory; }
    // Path of name inside the directory; the file is not created.
    std::string File(const std::string& name) const { return Directory + "/" + name; }

  private:
    std::string Directory;
};

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool WriteFileText(const std::string& path, const std::string& text);
bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes);
// Empty when the file cannot be read.
std::vector<uint8_t> ReadFileBytes(const std::string& path);
std::string ReadFileText(const std::string& path);
// lstat: a symbolic link counts even when its target is gone.
bool FileExists(const std::string& path);
