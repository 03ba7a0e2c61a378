#include "board/BoardMain.h"

#include "board/FlashChip.h"
#include "board/FrameServer.h"
#include "board/LineClock.h"
#include "board/UsbAdapter.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <iterator>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <vector>

static const int64_t NanosecondsPerMillisecond = 1000000;
// How often the vanish fault looks whether the host has taken the last replies.
static const int64_t ReplyCheckNs = 5 * NanosecondsPerMillisecond;
// How long the replies of the last frame before a vanish may take to drain.
static const int64_t VanishDrainNs = 2000 * NanosecondsPerMillisecond;
static const size_t IoChunk = 4096;

static volatile sig_atomic_t StopSignal = 0;

static void OnStopSignal(int signal)
{
    StopSignal = signal;
}

static int64_t MonotonicNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

class CBoard
{
  public:
    explicit CBoard(const CBoardOptions& options);
    int Run();

  private:
    bool Prepare();
    bool OpenDevice();
    bool MakeLink();
    void RemoveLink();
    void InstallSignals();
    size_t ReadHost(bool drainAll);
    void ProcessDue(int64_t now);
    void TransmitDue(int64_t now);
    void DropOutgoing();
    void HoldDevice();
    void ReleaseDevice();
    void HostClosed();
    void AwaitRepliesTaken(int64_t deadline);
    bool WaitAndRead(int64_t now, bool vanishing, int64_t vanishDeadline);
    bool Finish(const std::string& reason);
    void Log(const std::string& line) const;

    const CBoardOptions& Options;
    CFlashChip Flash;
    CFrameServer Server;
    CLineClock ReceiveClock;
    CLineClock TransmitClock;
    CUsbAdapter Adapter;
    std::deque<CTimedByte> Incoming;
    std::deque<CTimedByte> Outgoing;
    size_t ReadAhead;
    sigset_t WaitMask{};
    int Master = -1;
    std::string DevicePath;
    FILE* Trace = nullptr;
    bool LinkMade = false;
    // The board's own descriptor of the device side, open while it waits for a host: poll on
    // the master reports a hang-up whenever nobody has the device open, so only without it
    // does a hang-up mean that the host has closed the port.
    int Hold = -1;
    // The host has closed the port and not sent anything since.
    bool HostAway = false;
    bool HostClosedForGood = false;
    bool TransmitBlocked = false;
};

CBoard::CBoard(const CBoardOptions& options)
    : Options(options), Flash([] { return MonotonicNanoseconds() / NanosecondsPerMillisecond; },
                              options.EraseMilliseconds),
      Server(Flash, options), ReceiveClock(options.Baud), TransmitClock(options.Baud),
      Adapter(options.LatencyMilliseconds * NanosecondsPerMillisecond, MonotonicNanoseconds()),
      // About 20 ms of line time is taken from the device at once, so that the host's own
      // queue drains at the line rate instead of vanishing into the board at once.
      ReadAhead(std::max<size_t>(64, options.Baud / 550))
{
}

void CBoard::Log(const std::string& line) const
{
    std::fprintf(stderr, "orbelt-board: %s\n", line.c_str());
}

static bool LoadImageFile(const std::string& path, CFlashChip& flash)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
    {
        std::fprintf(stderr, "orbelt-board: cannot open image %s: %s\n", path.c_str(),
                     std::strerror(errno));
        return false;
    }
    std::vector<uint8_t> data(FlashSize + 1);
    const size_t length = std::fread(data.data(), 1, data.size(), file);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed || length > FlashSize)
    {
        std::fprintf(stderr, "orbelt-board: image %s %s\n", path.c_str(),
                     failed ? "cannot be read" : "is larger than the 128 KiB flash");
        return false;
    }
    flash.Load(data.data(), length);
    return true;
}

static bool WriteDump(const std::string& path, const std::vector<uint8_t>& contents)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    bool written = file != nullptr &&
                   std::fwrite(contents.data(), 1, contents.size(), file) == contents.size();
    if (file != nullptr && std::fclose(file) != 0)
    {
        written = false;
    }
    if (!written)
    {
        std::fprintf(stderr, "orbelt-board: cannot write dump %s: %s\n", path.c_str(),
                     std::strerror(errno));
    }
    return written;
}

void CBoard::InstallSignals()
{
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGHUP);
    // They stay blocked outside ppoll, so none can slip in between a check and a wait.
    sigprocmask(SIG_BLOCK, &stopSignals, &WaitMask);
    sigdelset(&WaitMask, SIGTERM);
    sigdelset(&WaitMask, SIGINT);
    sigdelset(&WaitMask, SIGHUP);
    struct sigaction action
    {
    };
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

bool CBoard::OpenDevice()
{
    Master = posix_openpt(O_RDWR | O_NOCTTY);
    if (Master < 0 || grantpt(Master) != 0 || unlockpt(Master) != 0)
    {
        Log(std::string("cannot create a pseudo-terminal: ") + std::strerror(errno));
        return false;
    }
    const char* name = ptsname(Master);
    if (name == nullptr)
    {
        Log(std::string("ptsname failed: ") + std::strerror(errno));
        return false;
    }
    DevicePath = name;
    HoldDevice();
    if (Hold < 0)
    {
        Log("cannot open " + DevicePath + ": " + std::strerror(errno));
        return false;
    }
    // The settings stay with the pseudo-terminal pair while the master is open.
    termios settings{};
    const bool raw = tcgetattr(Hold, &settings) == 0 &&
                     (cfmakeraw(&settings), tcsetattr(Hold, TCSANOW, &settings) == 0);
    if (!raw)
    {
        Log("cannot make " + DevicePath + " raw: " + std::strerror(errno));
        return false;
    }
    const int flags = fcntl(Master, F_GETFL);
    if (flags < 0 || fcntl(Master, F_SETFL, flags | O_NONBLOCK) != 0)
    {
        Log(std::string("cannot make the master non-blocking: ") + std::strerror(errno));
        return false;
    }
    return true;
}

void CBoard::HoldDevice()
{
    if (Hold < 0)
    {
        Hold = open(DevicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        // Replies a closed host never read would otherwise greet the next one to open the port.
        if (Hold >= 0)
        {
            tcflush(Hold, TCIFLUSH);
        }
    }
}

void CBoard::ReleaseDevice()
{
    if (Hold >= 0)
    {
        close(Hold);
        Hold = -1;
    }
}

bool CBoard::MakeLink()
{
    const std::string& link = Options.LinkPath;
    struct stat existing
    {
    };
    if (lstat(link.c_str(), &existing) == 0)
    {
        if (!S_ISLNK(existing.st_mode))
        {
            Log("--link " + link + " exists and is not a symbolic link");
            return false;
        }
        // Only the dangling link of a board that has gone may be replaced: a live one is
        // another board's way in.
        struct stat target
        {
        };
        if (stat(link.c_str(), &target) == 0)
        {
            std::vector<char> name(PATH_MAX + 1, '\0');
            const ssize_t length = readlink(link.c_str(), name.data(), PATH_MAX);
            Log("--link " + link + " points to " +
                std::string(name.data(), static_cast<size_t>(std::max<ssize_t>(length, 0))) +
                ", which exists");
            return false;
        }
        unlink(link.c_str());
    }
    if (symlink(DevicePath.c_str(), link.c_str()) != 0)
    {
        Log("cannot create link " + link + ": " + std::strerror(errno));
        return false;
    }
    LinkMade = true;
    return true;
}

void CBoard::RemoveLink()
{
    if (!LinkMade)
    {
        return;
    }
    LinkMade = false;
    std::vector<char> target(PATH_MAX + 1, '\0');
    const ssize_t length = readlink(Options.LinkPath.c_str(), target.data(), PATH_MAX);
    // Another board may have taken the name over since; its link is left alone.
    if (length > 0 && std::string(target.data(), static_cast<size_t>(length)) == DevicePath)
    {
        unlink(Options.LinkPath.c_str());
    }
}

bool CBoard::Prepare()
{
    if (!Options.ImagePath.empty() && !LoadImageFile(Options.ImagePath, Flash))
    {
        return false;
    }
    for (uint32_t address : Options.BadCells)
    {
        Flash.AddBadCell(address);
    }
    Flash.SetEraseNeverEnds(Options.EraseNever);
    if (!Options.TracePath.empty())
    {
        Trace = std::fopen(Options.TracePath.c_str(), "wb");
        if (Trace == nullptr)
        {
            Log("cannot create trace " + Options.TracePath + ": " + std::strerror(errno));
            return false;
        }
    }
    return true;
}

size_t CBoard::ReadHost(bool drainAll)
{
    uint8_t buffer[IoChunk];
    size_t total = 0;
    for (;;)
    {
        size_t room = sizeof buffer;
        if (!drainAll && Options.Baud != 0)
        {
            if (Incoming.size() >= ReadAhead)
            {
                break;
            }
            room = std::min(room, ReadAhead - Incoming.size());
        }
        const ssize_t count = read(Master, buffer, room);
        if (count < 0 && errno == EINTR)
        {
            continue;
        }
        // EAGAIN: all read; EIO: the device side is closed and nothing is left.
        if (count <= 0)
        {
            break;
        }
        const int64_t now = MonotonicNanoseconds();
        for (ssize_t i = 0; i < count; ++i)
        {
            Incoming.push_back(CTimedByte{buffer[i], ReceiveClock.Schedule(now)});
        }
        if (Trace != nullptr)
        {
            std::fwrite(buffer, 1, static_cast<size_t>(count), Trace);
        }
        total += static_cast<size_t>(count);
    }
    if (total != 0)
    {
        HostAway = false;
        ReleaseDevice();
        if (Trace != nullptr)
        {
            std::fflush(Trace);
        }
    }
    return total;
}

void CBoard::ProcessDue(int64_t now)
{
    std::vector<uint8_t> reply;
    while (!Incoming.empty() && Incoming.front().Due <= now && !Server.VanishDue())
    {
        const CTimedByte byte = Incoming.front();
        Incoming.pop_front();
        reply.clear();
        Server.Receive(byte.Value, reply);
        std::transform(reply.begin(), reply.end(), std::back_inserter(Outgoing),
                       [this, &byte](uint8_t value) {
                           return CTimedByte{value, TransmitClock.Schedule(byte.Due)};
                       });
    }
}

void CBoard::TransmitDue(int64_t now)
{
    if (HostAway)
    {
        // Bytes sent to a closed port are lost on a real line; a pseudo-terminal would keep
        // them for the next one to open it.
        DropOutgoing();
        TransmitBlocked = false;
        return;
    }
    uint8_t buffer[IoChunk];
    size_t releasable = Adapter.Releasable(Outgoing, now);
    while (!TransmitBlocked && releasable != 0)
    {
        const size_t count = std::min(releasable, sizeof buffer);
        std::transform(Outgoing.begin(), Outgoing.begin() + static_cast<ptrdiff_t>(count), buffer,
                       [](const CTimedByte& byte) { return byte.Value; });
        const ssize_t written = write(Master, buffer, count);
        if (written > 0)
        {
            Outgoing.erase(Outgoing.begin(), Outgoing.begin() + written);
            Adapter.Taken(static_cast<size_t>(written));
            releasable -= static_cast<size_t>(written);
        }
        else if (written < 0 && errno == EAGAIN)
        {
            TransmitBlocked = true;
        }
        else if (written < 0 && errno != EINTR)
        {
            DropOutgoing();
            releasable = 0;
        }
    }
}

void CBoard::DropOutgoing()
{
    Outgoing.clear();
    Adapter.Discarded();
}

void CBoard::HostClosed()
{
    Log("the host closed the device after " + std::to_string(Server.Frames()) + " frames");
    if (Options.ExitOnClose)
    {
        ProcessDue(INT64_MAX);
        HostClosedForGood = true;
    }
    HostAway = true;
    DropOutgoing();
    TransmitBlocked = false;
    tcflush(Master, TCIOFLUSH);
    HoldDevice();
}

// Closing the master discards what the host has not read yet, so the vanish waits a little
// for the host to take the replies of the frames before it.
void CBoard::AwaitRepliesTaken(int64_t deadline)
{
    if (HostAway)
    {
        return;
    }
    const int device = open(DevicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (device < 0)
    {
        return;
    }
    // Written bytes reach the device side a moment later, so the queue must be seen empty twice.
    int emptyChecks = 0;
    while (emptyChecks < 2 && MonotonicNanoseconds() < deadline)
    {
        const timespec pause{0, ReplyCheckNs};
        nanosleep(&pause, nullptr);
        int waiting = 0;
        if (ioctl(device, FIONREAD, &waiting) != 0)
        {
            break;
        }
        emptyChecks = waiting == 0 ? emptyChecks + 1 : 0;
    }
    close(device);
}

// Waits for the next deadline or for the device, and takes in what the host sent.
// Returns false when the wait itself failed.
bool CBoard::WaitAndRead(int64_t now, bool vanishing, int64_t vanishDeadline)
{
    int64_t wake = INT64_MAX;
    // A byte that does not complete a frame changes nothing outside, so the board only wakes
    // for the bytes that do.
    const size_t frameEnd = Server.MissingBytes();
    if (!vanishing && Incoming.size() >= frameEnd)
    {
        wake = std::min(wake, Incoming[frameEnd - 1].Due);
    }
    if (!TransmitBlocked)
    {
        wake = std::min(wake, Adapter.NextRelease(Outgoing));
    }
    if (vanishing)
    {
        wake = std::min(wake, vanishDeadline);
    }
    pollfd device{Master, 0, 0};
    if (!vanishing && (Options.Baud == 0 || Incoming.size() < ReadAhead))
    {
        device.events |= POLLIN;
    }
    if (TransmitBlocked)
    {
        device.events |= POLLOUT;
    }
    timespec timeout{};
    timespec* timeoutPointer = nullptr;
    if (wake != INT64_MAX)
    {
        const int64_t delay = std::max<int64_t>(wake - now, 0);
        timeout.tv_sec = static_cast<time_t>(delay / 1000000000);
        timeout.tv_nsec = static_cast<long>(delay % 1000000000);
        timeoutPointer = &timeout;
    }
    const int ready = ppoll(&device, 1, timeoutPointer, &WaitMask);
    if (ready < 0)
    {
        if (errno == EINTR)
        {
            return true;
        }
        Log(std::string("poll failed: ") + std::strerror(errno));
        return false;
    }
    if (ready == 0)
    {
        return true;
    }
    if ((device.revents & POLLOUT) != 0)
    {
        TransmitBlocked = false;
    }
    const bool hangUp = (device.revents & (POLLHUP | POLLERR)) != 0;
    if ((device.revents & (POLLIN | POLLHUP | POLLERR)) != 0)
    {
        ReadHost(hangUp);
    }
    // Once the host has sent something the board no longer holds the device open, so this
    // hang-up is the host closing it.
    if (hangUp && Hold < 0)
    {
        HostClosed();
    }
    return true;
}

bool CBoard::Finish(const std::string& reason)
{
    Log(reason + "; " + std::to_string(Server.Frames()) + " frames served");
    ReleaseDevice();
    if (Master >= 0)
    {
        close(Master);
        Master = -1;
    }
    bool ok = true;
    if (!Options.DumpPath.empty())
    {
        ok = WriteDump(Options.DumpPath, Flash.Contents());
    }
    if (Trace != nullptr)
    {
        if (std::fclose(Trace) != 0)
        {
            Log("cannot write trace " + Options.TracePath);
            ok = false;
        }
        Trace = nullptr;
    }
    RemoveLink();
    return ok;
}

int CBoard::Run()
{
    if (!Prepare())
    {
        return 2;
    }
    InstallSignals();
    if (Options.Baud != 0)
    {
        // The default slack of 50 us is half a byte time at 115200 baud.
        prctl(PR_SET_TIMERSLACK, 1000UL);
    }
    if (!OpenDevice())
    {
        Finish("start-up failed");
        return 1;
    }
    // The link exists before the path is printed: whoever reads the path may use the link.
    if (!Options.LinkPath.empty() && !MakeLink())
    {
        Finish("start-up failed");
        return 1;
    }
    std::printf("%s\n", DevicePath.c_str());
    std::fflush(stdout);
    char line[160];
    std::snprintf(
        line, sizeof line, "serving %s, 128 KiB flash, erase %" PRId64 " ms, ack 0x%02X, %s, %s",
        DevicePath.c_str(), Options.EraseMilliseconds, Options.Ack,
        Options.Baud == 0 ? "unpaced" : (std::to_string(Options.Baud) + " baud").c_str(),
        Options.LatencyMilliseconds == 0
            ? "no adapter"
            : ("adapter latency " + std::to_string(Options.LatencyMilliseconds) + " ms").c_str());
    Log(line);

    bool vanishing = false;
    int64_t vanishDeadline = 0;
    for (;;)
    {
        if (StopSignal != 0)
        {
            return Finish(std::string("stopped by ") + (StopSignal == SIGINT   ? "SIGINT"
                                                        : StopSignal == SIGHUP ? "SIGHUP"
                                                                               : "SIGTERM"))
                       ? 0
                       : 1;
        }
        if (HostClosedForGood)
        {
            return Finish("host closed the device") ? 0 : 1;
        }
        const int64_t now = MonotonicNanoseconds();
        if (!vanishing)
        {
            ProcessDue(now);
            if (Server.VanishDue())
            {
                Log("fault: the device vanishes after frame " + std::to_string(Server.Frames()));
                vanishing = true;
                vanishDeadline = now + VanishDrainNs;
                Incoming.clear();
            }
        }
        TransmitDue(now);
        if (vanishing && (Outgoing.empty() || now >= vanishDeadline))
        {
            AwaitRepliesTaken(vanishDeadline);
            return Finish("device vanished") ? 0 : 1;
        }
        if (!WaitAndRead(now, vanishing, vanishDeadline))
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
