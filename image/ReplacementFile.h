#pragma once

#include <cstddef>

// Writes length bytes as the whole new contents of path, or leaves path as it was: the bytes
// go to a temporary file beside it, which takes its place only once everything is written
// and flushed to disk. One source file per platform. Returns false, errno set, on failure;
// no temporary file is left behind then.
bool WriteReplacementFile(const char* path, const void* data, size_t length);
