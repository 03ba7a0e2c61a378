#include "app/Questions.h"

#include "app/Settings.h"
#include "serial/PortList.h"

#include <cstdio>
#include <cstring>

namespace
{

SerialPortEntry Ports[256];

void PrintVersion()
{
    printf("orbelt-dl %s\n", ORBELT_VERSION);
}

} // namespace

void PrintPortList()
{
    int count = ListSerialPorts(Ports, static_cast<int>(sizeof Ports / sizeof Ports[0]));
    for (int i = 0; i < count; ++i)
    {
        const SerialPortEntry& port = Ports[i];
        if (port.Number == 0)
        {
            // Only a mapping reaches it: the user picks a free n.
            printf("ORBELT_COMn=%s", port.Device);
        }
        else if (port.Number < MinPortNumber || port.Number > MaxPortNumber)
        {
            printf("-");
        }
        else
        {
            printf("%d", port.Number);
        }
        printf("\t%s\t%s\n", port.Device, port.Description);
    }
}

bool AnswerQuestion(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
    {
        if (strcmp(argv[i], "-p") == 0)
        {
            ++i;
        }
        else if (strcmp(argv[i], "--version") == 0)
        {
            PrintVersion();
            return true;
        }
        else if (strcmp(argv[i], "--list-ports") == 0)
        {
            PrintPortList();
            return true;
        }
    }
    return false;
}
