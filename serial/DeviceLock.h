#pragma once

#include <cstddef>

// UUCP lock files: terminal programs (minicom, picocom, screen) mark a serial device they use
// with /run/lock/LCK..<name> holding their pid. flock alone only keeps out programs that lock
// too. device is the real device path, links resolved.
const int LockPathCapacity = 320;

// The pid of a live process that holds a lock on device, with its lock file in lockPath;
// 0 when there is none (a lock of a process that has gone is stale).
long LiveDeviceLock(const char* device, char* lockPath, size_t size);

// Creates our own lock file for device, atomically, its path in lockPath (empty when we hold
// none: without a usable lock directory the device is used without one). False when a live
// process holds the lock: its pid is in owner, its lock file in lockPath.
bool TakeDeviceLock(const char* device, char* lockPath, size_t size, long& owner);
