#include "app/Questions.h"

#include "serial/PortList.h"
#include "target/RunPlan.h"

#include <cstdio>

namespace
{

SerialPortEntry Ports[256];

} // namespace

void PrintVersion()
{
    printf("orbelt-dl %s\n", ORBELT_VERSION);
}

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
