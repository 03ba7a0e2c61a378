#pragma once

#include <cstddef>

// The run record's file, opened for appending when the run starts (created when missing) and
// kept open, so that a file that cannot be written is known before the board is touched. Each
// append is one write in append mode, so that runs in parallel can share the file without
// their lines mixing. One source file per platform. Both return false, errno set, on failure.
bool OpenRecordFile(const char* path);
bool AppendToRecordFile(const char* text, size_t length);
