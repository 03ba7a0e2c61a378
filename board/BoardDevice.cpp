#include "board/BoardDevice.h"

#include "board/BoardClock.h"
#include "board/BoardLog.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <vector>

// How often the board looks whether the host has taken the last replies.
static const int64_t ReplyCheckNs = 5 * NanosecondsPerMillisecond;

static std::string SystemError()
{
    return std::strerror(errno);
}

static std::string LinkTarget(const std::string& link)
{
    std::vector<char> target(PATH_MAX + 1, '\0');
    const ssize_t length = readlink(link.c_str(), target.data(), PATH_MAX);
    return std::string(target.data(), static_cast<size_t>(std::max<ssize_t>(length, 0)));
}

bool CBoardDevice::Open()
{
    if (!CreatePseudoTerminal())
    {
        return false;
    }
    return LinkPath.empty() || MakeLink();
}

bool CBoardDevice::CreatePseudoTerminal()
{
    Master = posix_openpt(O_RDWR | O_NOCTTY);
    if (Master < 0 || grantpt(Master) != 0 || unlockpt(Master) != 0)
    {
        BoardLog("cannot create a pseudo-terminal: " + SystemError());
        return false;
    }
    const char* name = ptsname(Master);
    if (name == nullptr)
    {
        BoardLog("ptsname failed: " + SystemError());
        return false;
    }
    DevicePath = name;
    Hold();
    if (HoldFd < 0)
    {
        BoardLog("cannot open " + DevicePath + ": " + SystemError());
        return false;
    }
    // The settings stay with the pseudo-terminal pair while the master is open.
    termios settings{};
    const bool raw = tcgetattr(HoldFd, &settings) == 0 &&
                     (cfmakeraw(&settings), tcsetattr(HoldFd, TCSANOW, &settings) == 0);
    if (!raw)
    {
        BoardLog("cannot make " + DevicePath + " raw: " + SystemError());
        return false;
    }
    const int flags = fcntl(Master, F_GETFL);
    if (flags < 0 || fcntl(Master, F_SETFL, flags | O_NONBLOCK) != 0)
    {
        BoardLog("cannot make the master non-blocking: " + SystemError());
        return false;
    }
    return true;
}

void CBoardDevice::Close()
{
    CloseTerminal();
    RemoveLink();
}

void CBoardDevice::CloseTerminal()
{
    Release();
    if (Master >= 0)
    {
        close(Master);
        Master = -1;
    }
}

void CBoardDevice::Hold()
{
    if (HoldFd < 0)
    {
        HoldFd = open(DevicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        // Replies a closed host never read would otherwise greet the next one to open the port.
        if (HoldFd >= 0)
        {
            tcflush(HoldFd, TCIFLUSH);
        }
    }
}

void CBoardDevice::Release()
{
    if (HoldFd >= 0)
    {
        close(HoldFd);
        HoldFd = -1;
    }
}

void CBoardDevice::Flush()
{
    tcflush(Master, TCIOFLUSH);
}

bool CBoardDevice::MakeLink()
{
    struct stat existing
    {
    };
    if (lstat(LinkPath.c_str(), &existing) == 0)
    {
        if (!S_ISLNK(existing.st_mode))
        {
            BoardLog("--link " + LinkPath + " exists and is not a symbolic link");
            return false;
        }
        // Only the dangling link of a board that has gone may be replaced: a live one is
        // another board's way in.
        struct stat target
        {
        };
        if (stat(LinkPath.c_str(), &target) == 0)
        {
            BoardLog("--link " + LinkPath + " points to " + LinkTarget(LinkPath) +
                     ", which exists");
            return false;
        }
        unlink(LinkPath.c_str());
    }
    if (symlink(DevicePath.c_str(), LinkPath.c_str()) != 0)
    {
        BoardLog("cannot create link " + LinkPath + ": " + SystemError());
        return false;
    }
    LinkMade = true;
    return true;
}

void CBoardDevice::RemoveLink()
{
    if (!LinkMade)
    {
        return;
    }
    LinkMade = false;
    // Another board may have taken the name over since; its link is left alone.
    const std::string target = LinkTarget(LinkPath);
    if (!target.empty() && target == DevicePath)
    {
        unlink(LinkPath.c_str());
    }
}

void CBoardDevice::AwaitRepliesTaken(int64_t deadline) const
{
    const int device = open(DevicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (device < 0)
    {
        return;
    }
    // Written bytes reach the device side a moment later, so the queue must be seen empty twice.
    int emptyChecks = 0;
    while (emptyChecks < 2 && BoardNanoseconds() < deadline)
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
