#pragma once

// The serial ports this machine has, for finding the number to pass to -p. Each platform
// has its own source file.

struct SerialPortEntry
{
    char Device[256];      // "/dev/ttyUSB0", or "COM3" on Windows
    char Description[160]; // where the number comes from, the driver, the USB device
    int Number;            // the n that COMn opens this device as things stand; 0: none does
};

// Fills up to capacity entries, those with a number first in ascending order, then the rest
// by device name. Returns how many were filled.
int ListSerialPorts(SerialPortEntry* ports, int capacity);
