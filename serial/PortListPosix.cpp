#include "serial/PortList.h"

#include "serial/DevicePath.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <unistd.h>

namespace
{

const char* const TtyClass = "/sys/class/tty";
const char* const DeviceFamilies[] = {"ttyS", "ttyUSB", "ttyACM"};

bool HasPrefix(const char* text, const char* prefix)
{
    return strncmp(text, prefix, strlen(prefix)) == 0;
}

// "ttyUSB0" for a family above with a number after it.
bool IsSerialDeviceName(const char* name)
{
    for (const char* family : DeviceFamilies)
    {
        const char* digits = name + strlen(family);
        if (HasPrefix(name, family) && isdigit(static_cast<unsigned char>(*digits)) &&
            strspn(digits, "0123456789") == strlen(digits))
        {
            return true;
        }
    }
    return false;
}

// dir/name in path; false when it does not fit.
bool JoinPath(char* path, size_t size, const char* dir, const char* name)
{
    int length = snprintf(path, size, "%s/%s", dir, name);
    return length > 0 && static_cast<size_t>(length) < size;
}

// The first line of the small sysfs file dir/name, without its line feed.
bool ReadAttribute(const char* dir, const char* name, char* text, size_t size)
{
    char path[PATH_MAX];
    FILE* file = JoinPath(path, sizeof path, dir, name) ? fopen(path, "r") : nullptr;
    if (file == nullptr)
    {
        return false;
    }
    bool read = fgets(text, static_cast<int>(size), file) != nullptr;
    fclose(file);
    if (read)
    {
        text[strcspn(text, "\n")] = '\0';
    }
    return read;
}

// The last component of the link dir/name, e.g. a driver's name.
bool LinkName(const char* dir, const char* name, char* text, size_t size)
{
    char path[PATH_MAX];
    char target[PATH_MAX];
    ssize_t length =
        JoinPath(path, sizeof path, dir, name) ? readlink(path, target, sizeof target - 1) : -1;
    if (length <= 0)
    {
        return false;
    }
    target[length] = '\0';
    const char* slash = strrchr(target, '/');
    return snprintf(text, size, "%s", slash != nullptr ? slash + 1 : target) > 0;
}

bool ParentDirectory(char* path)
{
    char* slash = strrchr(path, '/');
    if (slash == nullptr || slash == path)
    {
        return false;
    }
    *slash = '\0';
    return true;
}

// Adds ", part" (part alone at the start) to text, cut to size; an empty part adds nothing.
void AppendPart(char* text, size_t size, const char* part)
{
    size_t used = strlen(text);
    if (part[0] != '\0' &&
        snprintf(text + used, size - used, "%s%s", used > 0 ? ", " : "", part) < 0)
    {
        text[used] = '\0';
    }
}

// The 8250 driver registers ports that have no hardware behind them; their type is 0.
bool IsPhantomPort(const char* name)
{
    char tty[PATH_MAX];
    char type[16];
    return JoinPath(tty, sizeof tty, TtyClass, name) &&
           ReadAttribute(tty, "type", type, sizeof type) && strcmp(type, "0") == 0;
}

// The driver of the hardware: newer kernels put the generic serial-base port and controller
// devices between the tty and the device that has the real driver.
void AppendDriver(const char* device, char* text, size_t size)
{
    char path[PATH_MAX];
    snprintf(path, sizeof path, "%s", device);
    char subsystem[64];
    while (LinkName(path, "subsystem", subsystem, sizeof subsystem) &&
           strcmp(subsystem, "serial-base") == 0 && ParentDirectory(path))
    {
    }
    char driver[64];
    if (LinkName(path, "driver", driver, sizeof driver))
    {
        AppendPart(text, size, driver);
    }
}

// "USB 0403:6001 FT232R USB UART" from the USB device a few levels above the tty's device.
void AppendUsbDevice(const char* device, char* text, size_t size)
{
    char path[PATH_MAX];
    snprintf(path, sizeof path, "%s", device);
    char vendor[16];
    for (int level = 0; !ReadAttribute(path, "idVendor", vendor, sizeof vendor); ++level)
    {
        if (level == 3 || !ParentDirectory(path))
        {
            return;
        }
    }
    char product[16] = "";
    char name[96] = "";
    ReadAttribute(path, "idProduct", product, sizeof product);
    ReadAttribute(path, "product", name, sizeof name);
    char usb[160];
    if (snprintf(usb, sizeof usb, "USB %s:%s%s%s", vendor, product, name[0] != '\0' ? " " : "",
                 name) > 0)
    {
        AppendPart(text, size, usb);
    }
}

// What sysfs knows of /dev/NAME: false when no driver is behind it.
bool DescribeDevice(const char* name, char* text, size_t size)
{
    char tty[PATH_MAX];
    char link[PATH_MAX];
    char driverLink[PATH_MAX];
    char device[PATH_MAX];
    if (!JoinPath(tty, sizeof tty, TtyClass, name) || !JoinPath(link, sizeof link, tty, "device") ||
        !JoinPath(driverLink, sizeof driverLink, link, "driver") || access(driverLink, F_OK) != 0 ||
        realpath(link, device) == nullptr)
    {
        return false;
    }
    AppendDriver(device, text, size);
    if (!HasPrefix(name, "ttyS"))
    {
        AppendUsbDevice(device, text, size);
    }
    return true;
}

// n for an ORBELT_COMn=... entry that the port reads (no leading zeros, 1 to 9999), else 0.
long MappedNumber(const char* entry)
{
    if (!HasPrefix(entry, PortVariablePrefix))
    {
        return 0;
    }
    const char* digits = entry + strlen(PortVariablePrefix);
    char* end = nullptr;
    long number = strtol(digits, &end, 10);
    bool canonical = *digits >= '1' && *digits <= '9' && end != nullptr && *end == '=';
    bool mapsSomething = canonical && end[1] != '\0';
    return mapsSomething && number <= MaxMappedNumber ? number : 0;
}

class CPortTable
{
  public:
    CPortTable(SerialPortEntry* ports, int capacity) : Ports(ports), Capacity(capacity) {}

    SerialPortEntry* Add(const char* device)
    {
        if (Count >= Capacity)
        {
            return nullptr;
        }
        SerialPortEntry* entry = &Ports[Count++];
        snprintf(entry->Device, sizeof entry->Device, "%s", device);
        entry->Description[0] = '\0';
        entry->Number = 0;
        return entry;
    }

    // The entry among the first count whose device is the same file as path.
    SerialPortEntry* Find(const char* path, int count)
    {
        char wanted[PATH_MAX];
        if (realpath(path, wanted) == nullptr)
        {
            return nullptr;
        }
        for (int i = 0; i < count; ++i)
        {
            char resolved[PATH_MAX];
            if (realpath(Ports[i].Device, resolved) != nullptr && strcmp(resolved, wanted) == 0)
            {
                return &Ports[i];
            }
        }
        return nullptr;
    }

    void RemoveNumbered(int number)
    {
        int kept = 0;
        for (int i = 0; i < Count; ++i)
        {
            if (Ports[i].Number != number)
            {
                Ports[kept++] = Ports[i];
            }
        }
        Count = kept;
    }

    int Size() const { return Count; }

  private:
    SerialPortEntry* Ports;
    int Capacity;
    int Count = 0;
};

void AddDriverPorts(CPortTable& table)
{
    DIR* folder = opendir(TtyClass);
    if (folder == nullptr)
    {
        return;
    }
    while (const dirent* item = readdir(folder))
    {
        char description[sizeof(SerialPortEntry::Description)] = "";
        if (!IsSerialDeviceName(item->d_name) ||
            (HasPrefix(item->d_name, "ttyS") && IsPhantomPort(item->d_name)) ||
            !DescribeDevice(item->d_name, description, sizeof description))
        {
            continue;
        }
        char device[sizeof(SerialPortEntry::Device)];
        if (!JoinPath(device, sizeof device, "/dev", item->d_name))
        {
            continue;
        }
        SerialPortEntry* entry = table.Add(device);
        if (entry == nullptr)
        {
            break;
        }
        snprintf(entry->Description, sizeof entry->Description, "%s", description);
        long number = 0;
        if (sscanf(item->d_name, "ttyS%ld", &number) == 1 && number < MaxMappedNumber)
        {
            char path[PATH_MAX];
            bool reached =
                PortDevicePath(number + 1, path, sizeof path) && strcmp(path, device) == 0;
            entry->Number = reached ? static_cast<int>(number + 1) : 0;
        }
    }
    closedir(folder);
}

// Every mapping becomes an entry, with what sysfs knows of its device, which is then not
// listed a second time without a number or with the same one.
void AddMappings(CPortTable& table)
{
    const int Covered = -1;
    int driverPorts = table.Size();
    for (char** variable = environ; variable != nullptr && *variable != nullptr; ++variable)
    {
        long number = MappedNumber(*variable);
        const char* device = number != 0 ? strchr(*variable, '=') + 1 : nullptr;
        SerialPortEntry* entry = device != nullptr ? table.Add(device) : nullptr;
        if (entry == nullptr)
        {
            continue;
        }
        entry->Number = static_cast<int>(number);
        SerialPortEntry* known = table.Find(device, driverPorts);
        const char* about = known != nullptr ? known->Description : "";
        if (known == nullptr && access(device, F_OK) != 0)
        {
            about = "no such device";
        }
        snprintf(entry->Description, sizeof entry->Description, "%s%ld", PortVariablePrefix,
                 number);
        AppendPart(entry->Description, sizeof entry->Description, about);
        if (known != nullptr && (known->Number == 0 || known->Number == number))
        {
            known->Number = Covered;
        }
    }
    table.RemoveNumbered(Covered);
}

// Numbered entries first by number, then by device name, ttyUSB2 before ttyUSB10.
int CompareEntries(const void* left, const void* right)
{
    const auto* a = static_cast<const SerialPortEntry*>(left);
    const auto* b = static_cast<const SerialPortEntry*>(right);
    if ((a->Number != 0) != (b->Number != 0))
    {
        return a->Number != 0 ? -1 : 1;
    }
    if (a->Number != b->Number)
    {
        return a->Number < b->Number ? -1 : 1;
    }
    size_t stem = strcspn(a->Device, "0123456789");
    bool sameStem =
        stem == strcspn(b->Device, "0123456789") && strncmp(a->Device, b->Device, stem) == 0;
    long numberA = strtol(a->Device + stem, nullptr, 10);
    long numberB = strtol(b->Device + stem, nullptr, 10);
    if (!sameStem || numberA == numberB)
    {
        return strcmp(a->Device, b->Device);
    }
    return numberA < numberB ? -1 : 1;
}

} // namespace

int ListSerialPorts(SerialPortEntry* ports, int capacity)
{
    CPortTable table(ports, capacity);
    AddDriverPorts(table);
    AddMappings(table);
    qsort(ports, static_cast<size_t>(table.Size()), sizeof *ports, CompareEntries);
    return table.Size();
}
