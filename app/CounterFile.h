#pragma once

#include <cstddef>
#include <cstdint>

// The serial number counter: a text file whose first line holds the next number in decimal,
// shared by every process that flashes boards of one line. TakeNextNumber hands out that number
// and leaves number + 1 in the file, on the disk, before it returns, so that no number is ever
// handed out twice: not to two processes, not after a failed board, not after a killed run.
// Gaps are allowed (a run killed after the file was advanced loses its number). The counter
// never goes down.
//
// Its second line, "first N", which the first take writes, tells the first number it handed
// out: every number from there to below the next is one this counter gave, so that a board
// that holds one keeps it. A file without the line (written by hand, or before it was kept)
// knows none as given until its next take.
//
// Processes take turns through an exclusive lock on a file beside it, FILE.lock, which is
// created when missing and never removed. The counter file itself is replaced, never written in
// place, so that at every instant it holds either the old number or the new one, whole; the
// lock cannot be on the counter file, since a process waiting for it would hold the replaced
// file, and Windows does not replace a file another process has open. The kernel drops the
// lock when its process dies, so a killed run never blocks the others; the new file is written
// as FILE.tmp first, and the next take clears one a killed run left. The replaced file keeps the
// old file's permissions. A file without write permission (for root too) is never advanced.
enum ECounterStatus
{
    CounterOk,
    CounterMissing,
    CounterUnreadable,
    CounterEmpty,
    CounterNotANumber,
    CounterNegative,
    CounterTooLarge, // above 18446744073709551614, the last that can be advanced
    CounterBelowFirst,
    CounterReadOnly,
    CounterNotLocked,
    CounterNotReplaced,
};

struct CCounter
{
    uint64_t Next = 0;
    // The first number handed out, once one has been.
    bool FirstKnown = false;
    uint64_t First = 0;
};

// The counter that a file holding text gives: the number of the whole first line (up to a line
// feed, a carriage return before it allowed), with spaces or tabs around it allowed, and the
// first number of a second line "first N".
ECounterStatus ParseCounterText(const char* text, size_t length, CCounter& counter);
// The number taken, or why none was, with errno set for the failures of a system call
// (missing, unreadable, read-only, not locked, not replaced). The file is unchanged unless the
// number was taken.
ECounterStatus TakeNextNumber(const char* path, uint64_t& number);
// The counter the file holds now, read without the lock and without a change: for a check before
// any number is taken, and whether a number is one it gave.
ECounterStatus ReadCounter(const char* path, CCounter& counter);
bool CounterGave(const CCounter& counter, uint64_t number);
// "does not exist", "holds no number", ...: what follows the file's name in a message.
const char* CounterStatusText(ECounterStatus status);

// The platform's part, one source file per platform. All return false with errno set.
// Blocks until the lock beside path is this process's; fails with ENOENT when path does not
// exist and, on POSIX, with EINTR when a stop request comes meanwhile.
bool LockCounterFile(const char* path);
void UnlockCounterFile();
// Whether this process may advance the counter: the file has write permission for it, and, for
// an administrator who could write any file, for someone at all.
bool CounterWritable(const char* path);
