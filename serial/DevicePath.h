#pragma once

#include <cstddef>

// Linux: which device COMn stands for. The environment variable ORBELT_COMn names it when set
// and not empty, else it is /dev/ttyS(n-1).
const char* const PortVariablePrefix = "ORBELT_COM";
const long MaxMappedNumber = 9999;

// False, path untouched, for n outside 1 to MaxMappedNumber or a name longer than size - 1: a
// cut name could name another device.
bool PortDevicePath(long number, char* path, size_t size);
