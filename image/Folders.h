#pragma once

#include <cstdint>

// The folder the program keeps its own state in, the files in a folder, and locks that
// processes take turns through: one source file per platform. Each returns false with errno set
// when it fails.

const int FolderPathCapacity = 4096;

// $XDG_STATE_HOME/orbelt-dl, else $HOME/.local/state/orbelt-dl on POSIX; %LOCALAPPDATA%\orbelt-dl
// on Windows. Not created here.
bool UserStateFolder(char (&path)[FolderPathCapacity]);
// Makes folder path, and the folders above it that are missing.
bool MakeFolders(const char* path);
// The separator that joins a folder and a name.
char PathSeparator();
// Calls visit with the name of each entry of folder that ends in suffix, in no set order.
bool ListFolder(const char* folder, const char* suffix,
                void (*visit)(const char* name, void* context), void* context);

// An exclusive lock on the file at path, created when missing, held until UnlockFile or the
// process's end (a killed process never blocks the others). wait: until the lock is free;
// otherwise false at once, errno EWOULDBLOCK, while another holds it.
struct CFileLock
{
    intptr_t Handle = -1;
};
bool LockFile(CFileLock& lock, const char* path, bool wait);
void UnlockFile(CFileLock& lock);
