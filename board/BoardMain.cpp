#include "board/BoardMain.h"

#include "board/BoardClock.h"
#include "board/BoardDevice.h"
#include "board/BoardFiles.h"
#include "board/BoardLine.h"
#include "board/BoardLog.h"
#include "board/BoardSignals.h"
#include "board/EmulatedBoard.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <string>
#include <sys/prctl.h>

// How long the replies of the last frame before a vanish may take to drain.
static const int64_t VanishDrainNs = 2000 * NanosecondsPerMillisecond;

class CBoard
{
  public:
    explicit CBoard(const CBoardOptions& options);
    int Run();

  private:
    bool Start();
    void Announce() const;
    void ReadHost(bool drainAll);
    void HostClosed();
    bool WaitAndRead(int64_t now);
    bool Finish(const std::string& reason);
    int FinishWith(const std::string& reason, int status);

    const CBoardOptions& Options;
    CEmulatedBoard Board;
    CBoardDevice Device;
    CBoardLine Line;
    CTraceFile Trace;
    sigset_t WaitMask{};
    bool HostClosedForGood = false;
    bool Vanishing = false;
    int64_t VanishDeadline = 0;
};

CBoard::CBoard(const CBoardOptions& options)
    : Options(options), Board(options), Device(options.LinkPath), Line(options, BoardNanoseconds())
{
}

// What can go wrong with the command line's files, before there is a device.
bool CBoard::Start()
{
    return Board.Prepare() && Trace.Open(Options.TracePath);
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

void CBoard::ReadHost(bool drainAll)
{
    if (Line.Receive(Device.Descriptor(), drainAll, Trace) != 0)
    {
        Device.Release();
    }
}

void CBoard::HostClosed()
{
    BoardLog("the host closed the device after " + std::to_string(Board.Server().Frames()) +
             " frames");
    if (Options.ExitOnClose)
    {
        Line.Serve(INT64_MAX, Board);
        HostClosedForGood = true;
    }
    Line.HostLeft();
    Device.Flush();
    Device.Hold();
}

// Waits for the next deadline or for the device, and takes in what the host sent.
// Returns false when the wait itself failed.
bool CBoard::WaitAndRead(int64_t now)
{
    int64_t wake = Line.NextWake(Board.Server().MissingBytes(), !Vanishing);
    if (Vanishing)
    {
        wake = std::min(wake, VanishDeadline);
    }
    pollfd device{Device.Descriptor(), Line.PollEvents(!Vanishing), 0};
    timespec timeout{};
    timespec* timeoutPointer = nullptr;
    if (wake != INT64_MAX)
    {
        const int64_t delay = std::max<int64_t>(wake - now, 0);
        timeout.tv_sec = static_cast<time_t>(delay / NanosecondsPerSecond);
        timeout.tv_nsec = static_cast<long>(delay % NanosecondsPerSecond);
        timeoutPointer = &timeout;
    }
    const int ready = ppoll(&device, 1, timeoutPointer, &WaitMask);
    if (ready < 0)
    {
        if (errno == EINTR)
        {
            return true;
        }
        BoardLog(std::string("poll failed: ") + std::strerror(errno));
        return false;
    }
    if (ready == 0)
    {
        return true;
    }
    Line.Polled(device.revents);
    const bool hangUp = (device.revents & (POLLHUP | POLLERR)) != 0;
    if ((device.revents & (POLLIN | POLLHUP | POLLERR)) != 0)
    {
        ReadHost(hangUp);
    }
    // Once the host has sent something the board no longer holds the device open, so this
    // hang-up is the host closing it.
    if (hangUp && !Device.Held())
    {
        HostClosed();
    }
    return true;
}

// Writes the dump and the trace. False when either could not be written.
bool CBoard::Finish(const std::string& reason)
{
    BoardLog(reason + "; " + std::to_string(Board.Server().Frames()) + " frames served");
    Device.CloseTerminal();
    bool ok = true;
    if (!Options.DumpPath.empty())
    {
        ok = WriteDump(Options.DumpPath, Board.Flash().Contents());
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
    for (;;)
    {
        if (StopSignalCaught() != 0)
        {
            return FinishWith(std::string("stopped by ") + StopSignalName(StopSignalCaught()), 0);
        }
        if (HostClosedForGood)
        {
            return FinishWith("host closed the device", 0);
        }
        const int64_t now = BoardNanoseconds();
        if (!Vanishing)
        {
            Line.Serve(now, Board);
            if (Board.Server().VanishDue())
            {
                BoardLog("fault: the device vanishes after frame " +
                         std::to_string(Board.Server().Frames()));
                Vanishing = true;
                VanishDeadline = now + VanishDrainNs;
                Line.DropIncoming();
            }
        }
        Line.Transmit(now, Device.Descriptor());
        if (Vanishing && (Line.OutgoingEmpty() || now >= VanishDeadline))
        {
            if (!Line.HostGone())
            {
                Device.AwaitRepliesTaken(VanishDeadline);
            }
            return FinishWith("device vanished", 0);
        }
        if (!WaitAndRead(now))
        {
            Finish("giving up");
            return 1;
        }
    }
}

int RunBoard(const CBoardOptions& options)
{
    CBoard board(options);
    return board.Run();
}
