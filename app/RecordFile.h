#pragma once

#include <cstddef>

// Appends text to the file at path (created when missing) with one write in append mode, so
// that runs in parallel can share the file without their lines mixing. One source file per
// platform. Returns false, errno set, when the file cannot be opened or not all was written.
bool AppendToFile(const char* path, const char* text, size_t length);
