#pragma once

// Linux: the claim on a serial device while a port has it open, so that no other program
// interleaves bytes with ours on the line: flock, a UUCP lock file, exclusive mode, and USB
// adapters' low latency. ReleaseDevice, ReleaseOpenPorts (serial/ComPort.h) or the process end
// put the device back as the claim found it. path is what the user named, device the real
// device behind it.

// "cannot open <path>: <reason>" on standard error; returns false.
bool RefuseDevice(const char* path, const char* reason);
// Before the device is opened: false, told, when a live lock file of another program marks it
// or no more ports can be claimed.
bool MayClaimDevice(const char* path, const char* device);
// The opened device fd: false, told, with nothing left behind, when another program has it.
bool ClaimDevice(int fd, const char* path, const char* device);
// USB adapters otherwise hold every reply back for their latency timer.
void ClaimLowLatency(int fd);
void ReleaseDevice(int fd);
