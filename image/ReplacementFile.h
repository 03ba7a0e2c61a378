#pragma once

#include <cstddef>

// A file written whole or not at all. The bytes go to a new file created exclusively beside
// the target (same directory, so the final rename stays within one file system), and only
// CommitReplacement puts that file in the target's place, in one rename that replaces whatever
// was there. Until then the target is untouched: it can be the very file the caller is reading
// from, under any spelling of its path, and a failed or abandoned run leaves it as it was and
// leaves no temporary file behind.
//
//     CReplacementFile file;   (about 8 KiB: keep it static)
//     bool written = OpenReplacement(file, path) && WriteReplacement(file, data, length) &&
//                    CommitReplacement(file);
//     if (!written)
//     {
//         fprintf(stderr, "cannot write %s: %s\n", path, strerror(file.Error));
//         AbandonReplacement(file);
//     }
//
// Every function but AbandonReplacement returns false on failure and keeps the errno of the call
// that failed in Error. After a failure, or to give up, call AbandonReplacement; it is harmless
// when there is nothing left to remove.
//
// Where the bytes go: a path that names an open descriptor (/dev/stdout, /dev/fd/N,
// /proc/self/fd/N, or a link to one of them) is written through that descriptor, whatever it
// is, a redirected regular file included. Other symbolic links are followed to their final
// target, which is replaced in its own directory, so the links stay as they were; a replaced
// file keeps its permission bits, a new one gets those of any newly created file. A final target
// that is a device or a pipe (/dev/null) is opened and written directly. In these direct cases
// "whole or not at all" does not hold. A directory fails with EISDIR at once. A process killed
// between open and commit leaves its temporary file, ".orbelt-<pid>-<n>.tmp" in the target's
// directory (short, so that it fits beside any name the file system allows). POSIX flushes the
// new file to the disk before the rename; Windows replaces with MoveFileExA.
const int ReplacementPathCapacity = 4096;

class CReplacementFile
{
  public:
    int Error = 0;
    int Descriptor = -1;
    bool Direct = false; // the target itself is open (a descriptor, a device or a pipe)
    char Target[ReplacementPathCapacity] = {};
    char Temporary[ReplacementPathCapacity + 32] = {};
    // OpenReplacementBeside: the temporary is the final target's path with this appended.
    const char* Suffix = nullptr;
};

bool OpenReplacement(CReplacementFile& file, const char* targetPath);
// The same with the temporary at the final target's path + suffix, for a caller that holds a
// lock that makes it the one writer of the target: a temporary of that name is one a killed
// run left, and goes first.
bool OpenReplacementBeside(CReplacementFile& file, const char* targetPath, const char* suffix);
bool WriteReplacement(CReplacementFile& file, const void* data, size_t length);
bool CommitReplacement(CReplacementFile& file);
// The same, and the rename itself made durable (the directory flushed too): for a file whose loss
// a power cut must not cause, a counter or a journal.
bool CommitReplacementDurably(CReplacementFile& file);
void AbandonReplacement(CReplacementFile& file);

// A write past the process's file size limit (ulimit -f) then fails with EFBIG and takes the
// normal failure path, instead of ending the process with SIGXFSZ, which would leave the
// temporary file behind. Nothing to do where there is no such signal.
void LetWritesFailPastTheSizeLimit();
