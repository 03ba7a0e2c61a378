#pragma once

#include <cstdint>

// One serial port with the fixed settings of the target link. Each platform has its own
// source file; this header is all the rest of the program sees.
class CComPort
{
  public:
    // mode has the form "COM3:115200,e,8,1". Returns true once the device has opened.
    bool Open(const char* mode);
    // Returns when count bytes have arrived or 1000 ms after the call began.
    int Read(void* buffer, int count);
    // The same with a wait of its own: returns when count bytes have arrived or timeoutMs
    // after the call began, so that asking whether anything answers costs less than a second.
    int ReadWithin(void* buffer, int count, int timeoutMs);
    // Returns once minimum bytes have arrived, with whatever else is already waiting up to
    // maximum, or 1000 ms after the call began (with fewer than minimum). maximum is all the
    // caller expects: while bytes trickle in, the wait may go on until the line could have
    // carried the rest, so that a stream of replies costs few wake-ups.
    int ReadAvailable(void* buffer, int minimum, int maximum);
    // Returns when all bytes are handed over or 5000 ms after the call began.
    int Write(const void* buffer, int count);
    // 0: bytes waiting to be read, 1: bytes waiting to be sent,
    // 2: modem lines (bit 0 CTS, 1 DSR, 2 RING, 3 carrier), anything else 0.
    uint32_t QueryStatus(int kind);
    bool PurgeInput();
    bool Close();
    bool IsOpen() const { return Handle != -1; }
    // The device has gone away (an unplugged adapter, a board that took its adapter with it):
    // reads and writes fail at once from then on, and only a Close and a new Open help.
    bool Gone() const { return Lost; }
    // The device the last Open tried, e.g. "/dev/ttyUSB0" or "\\.\COM3"; empty before that.
    const char* Device() const { return DeviceText; }

  private:
    // Read and ReadAvailable with the wait given.
    int ReadFor(void* buffer, int minimum, int maximum, int timeoutMs);

    // A file descriptor on POSIX, a HANDLE on Windows; -1 is invalid on both.
    intptr_t Handle = -1;
    char DeviceText[4096] = {};
    // How long one byte takes on the line at the settings opened with.
    long ByteNanoseconds = 0;
    bool Lost = false;
};

extern CComPort TargetPort;

// Puts the devices of the ports still open back as Open found them (exclusive mode, serial
// flags, lock file). Runs at exit; safe in a signal handler for a process about to die.
void ReleaseOpenPorts();

const int ReadTimeoutMs = 1000;
const int WriteTimeoutMs = 5000;
const int PortQueueSize = 8192;
