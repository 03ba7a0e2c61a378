#pragma once

// A worker process and the pipes to it, one source file per platform: posix_spawn on POSIX,
// CreateProcess and a Job object on Windows. The worker's standard input is a pipe from the
// parent, its standard output a pipe to it and its standard error a file. Once the parent has
// gone the worker's input ends, and on Windows the Job object ends the worker too. All return
// false, or -1, with errno set when they fail.
#include <cstddef>
#include <cstdint>

struct CChild
{
    intptr_t Process = -1;
    intptr_t Input = -1;  // the parent's end of the worker's standard input
    intptr_t Output = -1; // the parent's end of its standard output
};

// argv ends with nullptr; argv[0] is the program's path. The file at errorPath is made anew.
bool SpawnChild(CChild& child, char* const* argv, const char* errorPath);
// Waits for bytes of the child's output: their count, 0 at its end.
long ReadChild(const CChild& child, char* buffer, size_t size);
bool WriteChild(const CChild& child, const char* text, size_t length);
void CloseChildInput(CChild& child);
void CloseChildOutput(CChild& child);
// Waits for the child to end: its exit status, or the signal that ended it (0 for none).
bool ReapChild(CChild& child, int& exitCode, int& signalNumber);
// This program's own file, to start workers of itself.
bool OwnProgramPath(char* path, size_t size);
// A new folder for a run's logs, in the system's temporary folder.
bool MakeLogFolder(char* path, size_t size);

// The worker's side: waits for the parent's bytes on standard input; 0 at its end.
long ReadParentInput(char* buffer, size_t size);
