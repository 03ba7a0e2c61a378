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
// Makes a rename within the directory of path durable.
bool SyncDirectoryOf(const char* path);

// The descriptor a path stands for (/dev/fd/1, /proc/self/fd/1), or -1 when it names none.
// Links are not followed here: /dev/stdout is a link to such a path.
int DescriptorNamedBy(const char* path);
// A new descriptor for the same open file, so that closing ours leaves the caller's open.
int DuplicateDescriptor(int descriptor);
// The text of the symbolic link at path; false with EINVAL when path is no link.
bool ReadLinkText(const char* path, char* text, size_t capacity);
// The length of path's directory part, its last separator included (0 for a bare name).
size_t DirectoryPartLength(const char* path);
// Gives the new file the permission bits of the file it is to replace.
bool KeepPermissions(int descriptor, unsigned mode);
