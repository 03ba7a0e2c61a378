#include "serial/DevicePath.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

bool PortDevicePath(long number, char* path, size_t size)
{
    if (number < 1 || number > MaxMappedNumber)
    {
        return false;
    }
    char variable[32];
    snprintf(variable, sizeof variable, "%s%ld", PortVariablePrefix, number);
    const char* mapped = getenv(variable);
    const bool isMapped = mapped != nullptr && mapped[0] != '\0';
    char standard[32];
    snprintf(standard, sizeof standard, "/dev/ttyS%ld", number - 1);
    const char* device = isMapped ? mapped : standard;
    if (strlen(device) >= size)
    {
        return false;
    }
    snprintf(path, size, "%s", device);
    return true;
}
