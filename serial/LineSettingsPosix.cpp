#include "serial/LineSettings.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <strings.h>
#include <sys/ioctl.h>

namespace
{

struct BaudRate
{
    long Rate;
    speed_t Speed;
};

const BaudRate BaudRates[] = {
    {1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},
    {19200, B19200},   {38400, B38400},   {57600, B57600},   {115200, B115200},
    {230400, B230400}, {460800, B460800}, {921600, B921600},
};

bool ParseSpeed(const char* token, long& baud, speed_t& speed)
{
    long rate = token != nullptr ? strtol(token, nullptr, 10) : 0;
    const BaudRate* found =
        std::find_if(std::begin(BaudRates), std::end(BaudRates),
                     [rate](const BaudRate& baud) { return baud.Rate == rate; });
    if (found == std::end(BaudRates))
    {
        return false;
    }
    baud = found->Rate;
    speed = found->Speed;
    return true;
}

bool ParseParity(const char* token, tcflag_t& parity)
{
    if (token == nullptr || token[1] != '\0')
    {
        return false;
    }
    switch (token[0] | 0x20)
    {
    case 'n':
        parity = 0;
        return true;
    case 'e':
        parity = PARENB;
        return true;
    case 'o':
        parity = PARENB | PARODD;
        return true;
    default:
        return false;
    }
}

bool ParseDataBits(const char* token, tcflag_t& dataBits)
{
    const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    if (token == nullptr || token[0] < '5' || token[0] > '8' || token[1] != '\0')
    {
        return false;
    }
    dataBits = sizes[token[0] - '5'];
    return true;
}

bool ParseStopBits(const char* token, bool& twoStopBits)
{
    if (token == nullptr || (strcmp(token, "1") != 0 && strcmp(token, "2") != 0))
    {
        return false;
    }
    twoStopBits = token[0] == '2';
    return true;
}

} // namespace

bool ParseMode(const char* mode, char* port, size_t portSize, LineSettings& line)
{
    char work[40];
    snprintf(work, sizeof work, "%s", mode);
    char* rest = nullptr;
    const char* token = strtok_r(work, ":, ", &rest);
    if (token == nullptr || strncasecmp(token, "COM", 3) != 0)
    {
        return false;
    }
    snprintf(port, portSize, "%s", token + 3);
    return ParseSpeed(strtok_r(nullptr, ":, ", &rest), line.Rate, line.Speed) &&
           ParseParity(strtok_r(nullptr, ":, ", &rest), line.Parity) &&
           ParseDataBits(strtok_r(nullptr, ":, ", &rest), line.DataBits) &&
           ParseStopBits(strtok_r(nullptr, ":, ", &rest), line.TwoStopBits);
}

void ApplyLineSettings(int fd, const LineSettings& line)
{
    struct termios tio;
    if (tcgetattr(fd, &tio) != 0)
    {
        return;
    }
    cfmakeraw(&tio);
    tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | PARMRK | IGNPAR);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= line.DataBits | line.Parity | CLOCAL | CREAD;
    if (line.TwoStopBits)
    {
        tio.c_cflag |= CSTOPB;
    }
    // With VMIN 0 a read of an empty queue returns 0 like end of file; with 1 and O_NONBLOCK
    // it fails with EAGAIN, so that 0 keeps meaning the device has hung up.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, line.Speed);
    cfsetospeed(&tio, line.Speed);
    tcsetattr(fd, TCSANOW, &tio);

    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIS, &lines);
}

long ByteTime(const LineSettings& line)
{
    const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    long bits = 1 + (line.Parity != 0 ? 1 : 0) + (line.TwoStopBits ? 2 : 1);
    for (int i = 0; i < 4; ++i)
    {
        if (sizes[i] == line.DataBits)
        {
            bits += 5 + i;
        }
    }
    return bits * 1000000000L / line.Rate;
}
