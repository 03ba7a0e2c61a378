#pragma once

#include "board/BoardCommands.h"
#include "board/BoardDevice.h"
#include "board/BoardFiles.h"
#include "board/BoardLine.h"
#include "board/BoardOptions.h"
#include "board/EmulatedBoard.h"

#include <csignal>
#include <cstdint>
#include <memory>
#include <string>

// orbelt-board's event loop: the device, the line through it, the board on the line, and the
// commands on standard input that change them.
class CBoard
{
  public:
    explicit CBoard(const CBoardOptions& options);
    int Run();

  private:
    enum class EDevice
    {
        Present,
        // Going once the replies already made have been taken.
        Vanishing,
        Gone,
    };

    // BoardMain.cpp: serving the host.
    bool Start();
    void Announce() const;
    bool Turn(int64_t now, int& status);
    void ServeBoard(int64_t now);
    void ReadHost(bool drainAll);
    void HostClosed();
    int64_t NextWake() const;
    bool WaitAndRead(int64_t now);
    void DeviceEvents(short revents);
    uint64_t FramesServed() const;
    bool Finish(const std::string& reason);
    int FinishWith(const std::string& reason, int status);

    // BoardControl.cpp: the commands, and the device going and coming back.
    void ReadCommands();
    void RunCommandLine(const std::string& line, bool overlong);
    void Execute(const CBoardCommand& command);
    void TakeOff();
    void PutOn(const CBoardOptions& settings);
    void Dump(const std::string& path) const;
    void BeginVanish(int64_t now, bool byFault);
    void DeviceGone(int64_t now);
    void AskReturn();
    void ReturnDevice();

    const CBoardOptions& Options;
    std::unique_ptr<CEmulatedBoard> Board;
    bool BoardOn = true;
    // Frames served by the boards before the one on the line.
    uint64_t EarlierFrames = 0;
    CBoardDevice Device;
    CBoardLine Line;
    CTraceFile Trace;
    // Standard input is read for commands until its end.
    bool CommandsOpen;
    CCommandLines Commands;
    sigset_t WaitMask{};
    bool HostClosedForGood = false;
    EDevice DeviceState = EDevice::Present;
    int64_t VanishDeadline = 0;
    // The vanish fault of a board without --return-after-ms ends the run.
    bool VanishEndsRun = false;
    // How long a vanished device stays away; -1: until the return command.
    int64_t ReturnDelayNs = -1;
    int64_t ReturnAt = INT64_MAX;
};
