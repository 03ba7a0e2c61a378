#include "tests/faults/FaultSupport.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

CBoardFrame Frame(uint8_t command, uint32_t address, uint8_t data)
{
    return {command, static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8),
            static_cast<uint8_t>(address >> 16), data};
}

CBoardFrame Cycle(uint32_t address, uint8_t value)
{
    return Frame(0x80, address, value);
}

} // namespace

CProcessOptions DownloaderOptions(const std::string& device, int port)
{
    CProcessOptions options;
    options.Environment.push_back("ORBELT_COM" + std::to_string(port) + "=" + device);
    return options;
}

CProcessResult RunDownloaderWith(const std::vector<std::string>& arguments,
                                 const std::string& device, EStdin input, double timeoutSeconds)
{
    std::vector<std::string> argv{ORBELT_DL_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    CProcessOptions options = DownloaderOptions(device);
    options.Stdin = input;
    options.TimeoutSeconds = timeoutSeconds;
    return RunProcess(argv, options);
}

std::vector<CBoardFrame> ExpectedDownloadFrames(const std::vector<uint8_t>& flash,
                                                size_t imageLength, int polls, bool verify)
{
    std::vector<CBoardFrame> frames = {
        Cycle(0x555, 0xAA), Cycle(0x2AA, 0x55), Cycle(0x555, 0x80),
        Cycle(0x555, 0xAA), Cycle(0x2AA, 0x55), Cycle(0x555, 0x10),
    };
    for (int poll = 0; poll < polls; ++poll)
    {
        frames.push_back(Frame(0x00, 0, 0));
    }
    for (const CBoardFrame& frame : {Cycle(0x555, 0xAA), Cycle(0x2AA, 0x55), Cycle(0x555, 0x20)})
    {
        frames.push_back(frame);
    }
    size_t end = (imageLength + 63) / 64 * 64;
    for (size_t address = 0; address < end; ++address)
    {
        frames.push_back(Cycle(0x333, 0xA0));
        frames.push_back(Frame(0xC0, static_cast<uint32_t>(address), flash[address]));
    }
    frames.push_back(Cycle(0x333, 0x90));
    frames.push_back(Cycle(0x333, 0xF0));
    for (size_t address = 0; verify && address < end; ++address)
    {
        frames.push_back(Frame(0x00, static_cast<uint32_t>(address), 0));
    }
    return frames;
}

int ErasePolls(const std::vector<CBoardFrame>& frames)
{
    int polls = 0;
    for (size_t i = 6; i < frames.size() && frames[i] == Frame(0x00, 0, 0); ++i)
    {
        ++polls;
    }
    return polls;
}

void SleepFor(double seconds)
{
    timespec pause{};
    pause.tv_sec = static_cast<time_t>(seconds);
    pause.tv_nsec = static_cast<long>((seconds - static_cast<double>(pause.tv_sec)) * 1e9);
    while (nanosleep(&pause, &pause) != 0)
    {
    }
}

bool WaitForFile(const std::string& path, double timeoutSeconds)
{
    double deadline = MonotonicSeconds() + timeoutSeconds;
    struct stat status
    {
    };
    while (stat(path.c_str(), &status) != 0 || status.st_size == 0)
    {
        if (MonotonicSeconds() >= deadline)
        {
            return false;
        }
        SleepFor(0.01);
    }
    return true;
}

std::string LockFileOf(const std::string& device)
{
    std::string name = device.substr(5);
    std::replace(name.begin(), name.end(), '/', '_');
    return "/run/lock/LCK.." + name;
}

std::string LockText(pid_t pid)
{
    char text[16];
    snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
    return text;
}

// As root TIOCEXCL does not stop an open, so the mode is read back; otherwise the open
// itself fails.
int ExclusiveMode(const std::string& device)
{
    int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
    {
        return errno == EBUSY ? 1 : -1;
    }
    int exclusive = -1;
    ioctl(fd, TIOCGEXCL, &exclusive);
    close(fd);
    return exclusive;
}
