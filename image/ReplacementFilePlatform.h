#pragma once

#include <cstddef>

// What a replacement file needs of the platform, one source file per platform. Each returns
// -1 or false with errno set when it fails.
int CreateNewFile(const char* path); // exclusively: fails with EEXIST when path exists
int OpenExistingFile(const char* path);
long WriteToFile(int descriptor, const void* data, size_t length);
bool SyncFile(int descriptor);
bool CloseFile(int descriptor);
bool MoveOverTarget(const char* source, const char* target);
unsigned long ProcessNumber();
