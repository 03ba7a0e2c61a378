#include "tests/support/Terminal.h"

#include "tests/support/Process.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

bool CTerminal::Open(const std::string& path)
{
    Close();
    Fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (Fd < 0)
    {
        return false;
    }
    termios settings{};
    if (tcgetattr(Fd, &settings) != 0)
    {
        Close();
        return false;
    }
    cfmakeraw(&settings);
    if (tcsetattr(Fd, TCSANOW, &settings) != 0)
    {
        Close();
        return false;
    }
    return true;
}

void CTerminal::Close()
{
    if (Fd >= 0)
    {
        close(Fd);
        Fd = -1;
    }
}

static int PollMilliseconds(double deadline)
{
    const double left = deadline - MonotonicSeconds();
    return left <= 0 ? 0 : std::max(1, static_cast<int>(left * 1000));
}

bool CTerminal::Write(const std::vector<uint8_t>& bytes, double timeoutSeconds)
{
    const double deadline = MonotonicSeconds() + timeoutSeconds;
    size_t done = 0;
    while (Fd >= 0 && done < bytes.size())
    {
        const ssize_t written = write(Fd, bytes.data() + done, bytes.size() - done);
        if (written > 0)
        {
            done += static_cast<size_t>(written);
            continue;
        }
        if (written < 0 && errno != EAGAIN && errno != EINTR)
        {
            return false;
        }
        if (MonotonicSeconds() >= deadline)
        {
            return false;
        }
        pollfd device{Fd, POLLOUT, 0};
        poll(&device, 1, PollMilliseconds(deadline));
    }
    return Fd >= 0;
}

bool CTerminal::ReadExact(size_t count, std::vector<uint8_t>& bytes, double timeoutSeconds)
{
    const double deadline = MonotonicSeconds() + timeoutSeconds;
    size_t got = 0;
    uint8_t buffer[4096];
    while (Fd >= 0 && got < count)
    {
        const ssize_t received = read(Fd, buffer, std::min(sizeof buffer, count - got));
        if (received > 0)
        {
            bytes.insert(bytes.end(), buffer, buffer + received);
            got += static_cast<size_t>(received);
            continue;
        }
        if (received == 0 || (errno != EAGAIN && errno != EINTR))
        {
            return false;
        }
        if (MonotonicSeconds() >= deadline)
        {
            return false;
        }
        pollfd device{Fd, POLLIN, 0};
        poll(&device, 1, PollMilliseconds(deadline));
    }
    return Fd >= 0;
}

std::vector<uint8_t> CTerminal::ReadUntilQuiet(double quietSeconds, double maxSeconds)
{
    std::vector<uint8_t> bytes;
    const double end = MonotonicSeconds() + maxSeconds;
    double quietEnd = MonotonicSeconds() + quietSeconds;
    uint8_t buffer[4096];
    while (Fd >= 0)
    {
        const ssize_t received = read(Fd, buffer, sizeof buffer);
        if (received > 0)
        {
            bytes.insert(bytes.end(), buffer, buffer + received);
            quietEnd = MonotonicSeconds() + quietSeconds;
            continue;
        }
        if (received == 0 || (errno != EAGAIN && errno != EINTR))
        {
            break;
        }
        const double deadline = std::min(end, quietEnd);
        if (MonotonicSeconds() >= deadline)
        {
            break;
        }
        pollfd device{Fd, POLLIN, 0};
        poll(&device, 1, PollMilliseconds(deadline));
    }
    return bytes;
}

bool CTerminal::WaitHangUp(double timeoutSeconds)
{
    const double deadline = MonotonicSeconds() + timeoutSeconds;
    while (Fd >= 0)
    {
        pollfd device{Fd, 0, 0};
        if (poll(&device, 1, PollMilliseconds(deadline)) > 0 &&
            (device.revents & (POLLHUP | POLLERR)) != 0)
        {
            return true;
        }
        if (MonotonicSeconds() >= deadline)
        {
            return false;
        }
    }
    return false;
}
