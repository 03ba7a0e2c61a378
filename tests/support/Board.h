#pragma once

#include "tests/support/Files.h"
#include "tests/support/Process.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

const size_t BoardFlashSize = 0x20000;

using CBoardFrame = std::array<uint8_t, 5>;
// After a failure the board's frame reader is realigned: four bytes of 0xFF, then zero bytes up
// to a read frame of address 0 on a board that answers; three frames on one that does not.
inline const CBoardFrame RealignFiller = {0xFF, 0xFF, 0xFF, 0xFF, 0};
inline const CBoardFrame RealignRead = {0, 0, 0, 0, 0};

// One host frame: command, 24-bit address least significant byte first, data.
std::vector<uint8_t> MakeFrame(uint8_t command, uint32_t address, uint8_t data);
// The host's way of programming one byte in unlock-bypass mode: the 0xA0 write cycle, then
// the program frame. The board answers the pair with ack, ack, read-back.
std::vector<uint8_t> MakeProgramPair(uint32_t address, uint8_t data);
// Cuts a byte stream into whole frames; a partial frame at the end is dropped.
std::vector<CBoardFrame> SplitFrames(const std::vector<uint8_t>& bytes);

// orbelt-board running in the background for one test, with its dump and trace going to a
// temporary directory of its own.
class CBoardProcess
{
  public:
    CBoardProcess() = default;
    // Stops a board still running.
    ~CBoardProcess();

    // Starts the board with options plus --dump and --trace, and waits for the device path on
    // its first line of stdout. With EStdin::Pipe, Control sends the board commands.
    bool Start(const std::vector<std::string>& options = {}, double timeoutSeconds = 10,
               EStdin input = EStdin::DevNull);
    // The device path the board printed, e.g. /dev/pts/7.
    const std::string& Device() const { return DevicePath; }
    // Every device path the board has printed: the first, then one for each return.
    std::vector<std::string> Devices() const;

    // Sends one command line and waits until the board's log, from then on, holds logged.
    bool Control(const std::string& command, const std::string& logged, double timeoutSeconds = 5);
    // Waits until the board's log holds text. False when the board ends first.
    bool WaitLog(const std::string& text, double timeoutSeconds = 5);
    const CTempDirectory& Directory() const { return Temp; }
    std::string DumpPath() const { return Temp.File("dump.bin"); }
    std::string TracePath() const { return Temp.File("trace.bin"); }

    // SIGTERM and wait. True when the board then exited with status 0.
    bool Stop(double timeoutSeconds = 10);
    // Waits for the board to end by itself. True when it has ended.
    bool WaitExit(double timeoutSeconds);
    bool Running() { return Board.Running(); }
    // The exit status once the board has exited, otherwise -1.
    int ExitCode();
    std::string Stderr() const { return Board.Stderr(); }
    CBackgroundProcess& Process() { return Board; }

    // The flash array the board wrote at exit: 131072 bytes, or empty when there is no dump.
    std::vector<uint8_t> Dump() const { return ReadFileBytes(DumpPath()); }
    // Every byte the host sent, as the board recorded it.
    std::vector<uint8_t> Trace() const { return ReadFileBytes(TracePath()); }
    std::vector<CBoardFrame> TraceFrames() const { return SplitFrames(Trace()); }

  private:
    bool WaitLogFrom(size_t from, const std::string& text, double timeoutSeconds);

    CTempDirectory Temp;
    CBackgroundProcess Board;
    std::string DevicePath;
};
