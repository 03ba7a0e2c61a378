#include "board/BoardClock.h"
#include "board/BoardLog.h"
#include "board/BoardLoop.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

// How long the replies of the last frames before a vanish may take to drain.
static const int64_t VanishDrainNs = 2000 * NanosecondsPerMillisecond;
static const size_t CommandChunk = 4096;

void CBoard::ReadCommands()
{
    char buffer[CommandChunk];
    // Standard input may be the terminal the board was started from, so it is never made
    // non-blocking; poll has said that this read will not wait.
    const ssize_t count = read(STDIN_FILENO, buffer, sizeof buffer);
    if (count < 0 && (errno == EINTR || errno == EAGAIN))
    {
        return;
    }
    if (count <= 0)
    {
        CommandsOpen = false;
        return;
    }
    Commands.Add(buffer, static_cast<size_t>(count));
    std::string line;
    bool overlong = false;
    while (Commands.Next(line, overlong))
    {
        RunCommandLine(line, overlong);
    }
}

void CBoard::RunCommandLine(const std::string& line, bool overlong)
{
    if (overlong)
    {
        BoardLog("ignored a command line of more than " + std::to_string(MaxCommandLine) +
                 " bytes");
        return;
    }
    CBoardCommand command;
    std::string error;
    if (!ParseBoardCommand(line, command, error))
    {
        BoardLog("ignored '" + line + "': " + error);
        return;
    }
    Execute(command);
}

void CBoard::Execute(const CBoardCommand& command)
{
    switch (command.Kind)
    {
    case ECommand::None:
        break;
    case ECommand::Off:
        TakeOff();
        break;
    case ECommand::On:
        PutOn(command.NewBoard);
        break;
    case ECommand::Dump:
        Dump(command.Path);
        break;
    case ECommand::Vanish:
        if (DeviceState == EDevice::Present)
        {
            BeginVanish(BoardNanoseconds(), false);
        }
        else
        {
            BoardLog("the device has already gone");
        }
        break;
    case ECommand::Return:
        AskReturn();
        break;
    }
}

void CBoard::TakeOff()
{
    BoardOn = false;
    Line.DropAll();
    BoardLog("board off after " + std::to_string(Board->Server().Frames()) + " frames");
}

void CBoard::PutOn(const CBoardOptions& settings)
{
    auto next = std::make_unique<CEmulatedBoard>(settings);
    if (!next->Prepare())
    {
        BoardLog("no new board: the line stays as it was");
        return;
    }
    EarlierFrames += Board->Server().Frames();
    Board = std::move(next);
    BoardOn = true;
    Line.DropAll();
    BoardLog("new board on: " +
             (settings.ImagePath.empty() ? std::string("blank") : "image " + settings.ImagePath));
}

void CBoard::Dump(const std::string& path) const
{
    if (WriteDump(path, Board->Flash().Contents()))
    {
        BoardLog("flash written to " + path);
    }
}

// The device goes once the replies already made have been taken, as after the last frame of
// the vanish fault.
void CBoard::BeginVanish(int64_t now, bool byFault)
{
    const int64_t returnAfter = byFault ? Board->Settings().ReturnAfterMilliseconds : -1;
    DeviceState = EDevice::Vanishing;
    VanishDeadline = now + VanishDrainNs;
    VanishEndsRun = byFault && returnAfter < 0;
    ReturnDelayNs = returnAfter < 0 ? -1 : returnAfter * NanosecondsPerMillisecond;
    Line.DropIncoming();
}

void CBoard::DeviceGone(int64_t now)
{
    Device.Close();
    Line.Restart();
    DeviceState = EDevice::Gone;
    ReturnAt = ReturnDelayNs < 0 ? INT64_MAX : now + ReturnDelayNs;
    BoardLog("device gone");
}

void CBoard::AskReturn()
{
    switch (DeviceState)
    {
    case EDevice::Present:
        BoardLog("the device is already there, at " + Device.Path());
        break;
    case EDevice::Vanishing:
        // Back as soon as it has gone.
        VanishEndsRun = false;
        ReturnDelayNs = 0;
        break;
    case EDevice::Gone:
        ReturnDevice();
        break;
    }
}

void CBoard::ReturnDevice()
{
    ReturnAt = INT64_MAX;
    if (!Device.Open())
    {
        Device.Close();
        BoardLog("the device stays gone");
        return;
    }
    DeviceState = EDevice::Present;
    std::printf("%s\n", Device.Path().c_str());
    std::fflush(stdout);
    BoardLog("device back at " + Device.Path());
}
