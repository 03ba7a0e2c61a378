#pragma once

#include <cstddef>
#include <termios.h>

// Linux: the line settings of a port's mode string, "COM3:115200,e,8,1", and how they are put
// on a terminal device.
struct LineSettings
{
    long Rate;
    speed_t Speed;
    tcflag_t Parity;   // PARENB and PARODD bits
    tcflag_t DataBits; // CS5 to CS8
    bool TwoStopBits;
};

// Splits "COM3:115200,e,8,1" into the port token after "COM" and the line settings.
bool ParseMode(const char* mode, char* port, size_t portSize, LineSettings& line);
// Raw mode, the settings, no flow control, DTR and RTS on.
void ApplyLineSettings(int fd, const LineSettings& line);
// How long one byte takes on the line: start bit, data bits, parity bit, stop bits.
long ByteTime(const LineSettings& line);
