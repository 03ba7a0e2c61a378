#include "serial/PortList.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <windows.h>

namespace
{

// Every DOS device name, NUL-separated; a machine with many drives and ports needs tens of KiB.
char DeviceNames[256 * 1024];

// n for "COMn", else 0.
int ComNumber(const char* name)
{
    if (_strnicmp(name, "COM", 3) != 0 || !isdigit(static_cast<unsigned char>(name[3])))
    {
        return 0;
    }
    char* end = nullptr;
    long number = strtol(name + 3, &end, 10);
    return *end == '\0' && number > 0 && number < 100000 ? static_cast<int>(number) : 0;
}

int CompareEntries(const void* left, const void* right)
{
    const auto* a = static_cast<const SerialPortEntry*>(left);
    const auto* b = static_cast<const SerialPortEntry*>(right);
    return a->Number < b->Number ? -1 : (a->Number > b->Number ? 1 : 0);
}

} // namespace

int ListSerialPorts(SerialPortEntry* ports, int capacity)
{
    if (QueryDosDeviceA(nullptr, DeviceNames, sizeof DeviceNames) == 0)
    {
        return 0;
    }
    int count = 0;
    for (const char* name = DeviceNames; *name != '\0' && count < capacity;
         name += strlen(name) + 1)
    {
        int number = ComNumber(name);
        if (number == 0)
        {
            continue;
        }
        SerialPortEntry& entry = ports[count++];
        snprintf(entry.Device, sizeof entry.Device, "COM%d", number);
        entry.Number = number;
        // The kernel device behind the name, e.g. \Device\Serial0 or \Device\VCP0.
        if (QueryDosDeviceA(name, entry.Description, sizeof entry.Description) == 0)
        {
            entry.Description[0] = '\0';
        }
    }
    qsort(ports, static_cast<size_t>(count), sizeof *ports, CompareEntries);
    return count;
}
