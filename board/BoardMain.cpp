#include "board/BoardMain.h"

#include "board/BoardClock.h"
#include "board/BoardLog.h"
#include "board/BoardLoop.h"
#include "board/BoardSignals.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

CBoard::CBoard(const CBoardOptions& options)
    : Options(options), Board(std::make_unique<CEmulatedBoard>(options)), Device(options.LinkPath),
      Line(options, BoardNanoseconds()),
      // Looked at before anything is opened: with descriptor 0 closed, the next file opened
      // would take its place.
      CommandsOpen(fcntl(STDIN_FILENO, F_GETFD) != -1)
{
}

// What can go wrong with the command line's files, before there is a device.
bool CBoard::Start()
{
    return Board->Prepare() && Trace.Open(Options.TracePath);
}

void CBoard::Announce() const
{
    // The link exists before the path is printed: whoever reads the path may use the link.
    std::printf("%s\n", Device.Path().c_str());
    std::fflush(stdout);
    char line[160];
    std::snprintf(
        line, sizeof line, "serving %s, 128 KiB flash, erase %" PRId64 " ms, ack 0x%02X, %s, %s",
        Device.Path().c_str(), Options.EraseMilliseconds, Options.Ack,
        Options.Baud == 0 ? "unpaced" : (std::to_string(Options.Baud) + " baud").c_str(),
        Options.LatencyMilliseconds == 0
            ? "no adapter"
            : ("adapter latency " + std::to_string(Options.LatencyMilliseconds) + " ms").c_str());
    BoardLog(line);
}

// One round of the loop. True when the board is to end, with the exit status in status.
bool CBoard::Turn(int64_t now, int& status)
{
    if (StopSignalCaught() != 0)
    {
        status = FinishWith(std::string("stopped by ") + StopSignalName(StopSignalCaught()), 0);
        return true;
    }
    if (HostClosedForGood)
    {
        status = FinishWith("host closed the device", 0);
        return true;
    }
    ServeBoard(now);
    if (DeviceState != EDevice::Gone)
    {
        Line.Transmit(now, Device.Descriptor());
    }
    if (DeviceState == EDevice::Vanishing && (Line.OutgoingEmpty() || now >= VanishDeadline))
    {
        if (!Line.HostGone())
        {
            Device.AwaitRepliesTaken(VanishDeadline);
        }
        if (VanishEndsRun)
        {
            status = FinishWith("device vanished", 0);
            return true;
        }
        DeviceGone(now);
    }
    if (DeviceState == EDevice::Gone && now >= ReturnAt)
    {
        ReturnDevice();
    }
    if (!WaitAndRead(now))
    {
        Finish("giving up");
        status = 1;
        return true;
    }
    return false;
}

void CBoard::ServeBoard(int64_t now)
{
    if (DeviceState != EDevice::Present || !BoardOn)
    {
        return;
    }
    Line.Serve(now, *Board);
    if (Board->VanishPending())
    {
        BoardLog("fault: the device vanishes after frame " +
                 std::to_string(Board->Server().Frames()));
        Board->VanishDone();
        BeginVanish(now, true);
    }
}

void CBoard::ReadHost(bool drainAll)
{
    if (Line.Receive(Device.Descriptor(), drainAll, BoardOn, Trace) != 0)
    {
        Device.Release();
    }
}

void CBoard::HostClosed()
{
    BoardLog("the host closed the device after " + std::to_string(FramesServed()) + " frames");
    if (Options.ExitOnClose)
    {
        Line.Serve(INT64_MAX, *Board);
        HostClosedForGood = true;
    }
    Line.HostLeft();
    Device.Flush();
    Device.Hold();
}

int64_t CBoard::NextWake() const
{
    const bool serving = DeviceState == EDevice::Present && BoardOn;
    int64_t wake = Line.NextWake(Board->Server().MissingBytes(), serving);
    if (DeviceState == EDevice::Vanishing)
    {
        wake = std::min(wake, VanishDeadline);
    }
    if (DeviceState == EDevice::Gone)
    {
        wake = std::min(wake, ReturnAt);
    }
    return wake;
}

// Waits for the next deadline, the device or a command, and takes in what came.
// Returns false when the wait itself failed.
bool CBoard::WaitAndRead(int64_t now)
{
    pollfd watched[] = {
        {Device.Descriptor(), Line.PollEvents(DeviceState == EDevice::Present), 0},
        {CommandsOpen ? STDIN_FILENO : -1, POLLIN, 0},
    };
    const int64_t wake = NextWake();
    timespec timeout{};
    timespec* timeoutPointer = nullptr;
    if (wake != INT64_MAX)
    {
        const int64_t delay = std::max<int64_t>(wake - now, 0);
        timeout.tv_sec = static_cast<time_t>(delay / NanosecondsPerSecond);
        timeout.tv_nsec = static_cast<long>(delay % NanosecondsPerSecond);
        timeoutPointer = &timeout;
    }
    const int ready = ppoll(watched, 2, timeoutPointer, &WaitMask);
    if (ready < 0)
    {
        if (errno == EINTR)
        {
            return true;
        }
        BoardLog(std::string("poll failed: ") + std::strerror(errno));
        return false;
    }
    // Bytes that came before a command belong to the board on the line until then.
    DeviceEvents(watched[0].revents);
    if (watched[1].revents != 0)
    {
        ReadCommands();
    }
    return true;
}

void CBoard::DeviceEvents(short revents)
{
    Line.Polled(revents);
    const bool hangUp = (revents & (POLLHUP | POLLERR)) != 0;
    if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0)
    {
        ReadHost(hangUp);
    }
    // Once the host has sent something the board no longer holds the device open, so this
    // hang-up is the host closing it.
    if (hangUp && !Device.Held())
    {
        HostClosed();
    }
}

uint64_t CBoard::FramesServed() const
{
    return EarlierFrames + Board->Server().Frames();
}

// Writes the dump and the trace. False when either could not be written.
bool CBoard::Finish(const std::string& reason)
{
    BoardLog(reason + "; " + std::to_string(FramesServed()) + " frames served");
    Device.CloseTerminal();
    bool ok = true;
    if (!Options.DumpPath.empty())
    {
        ok = WriteDump(Options.DumpPath, Board->Flash().Contents());
    }
    ok = Trace.Close() && ok;
    Device.RemoveLink();
    return ok;
}

int CBoard::FinishWith(const std::string& reason, int status)
{
    return Finish(reason) ? status : 1;
}

int CBoard::Run()
{
    if (!Start())
    {
        return 2;
    }
    InstallBoardSignals(WaitMask);
    if (Options.Baud != 0)
    {
        // The default slack of 50 us is half a byte time at 115200 baud.
        prctl(PR_SET_TIMERSLACK, 1000UL);
    }
    if (!Device.Open())
    {
        Finish("start-up failed");
        return 1;
    }
    Announce();
    int status = 0;
    while (!Turn(BoardNanoseconds(), status))
    {
    }
    return status;
}

int RunBoard(const CBoardOptions& options)
{
    CBoard board(options);
    return board.Run();
}
