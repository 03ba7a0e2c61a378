#include "app/Control.h"

#include "app/SerialNumber.h"
#include "app/Spawn.h"
#include "base/Stop.h"

#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace
{

#if !defined(SIGHUP)
const int SIGHUP = 1; // as a POSIX shell shows a closed console
#endif

std::mutex NewsLock;
std::vector<uint64_t> PassedElsewhere;

void Obey(const char* line)
{
    int signalNumber = 0;
    uint64_t number = 0;
    if (sscanf(line, "stop %d", &signalNumber) == 1 && signalNumber > 0)
    {
        RequestStop(signalNumber);
    }
    else if (sscanf(line, "passed %" SCNu64, &number) == 1)
    {
        const std::lock_guard<std::mutex> hold(NewsLock);
        PassedElsewhere.push_back(number);
    }
}

void Listen()
{
    char line[256];
    size_t filled = 0;
    for (;;)
    {
        const long count = ReadParentInput(line + filled, sizeof line - 1 - filled);
        if (count <= 0)
        {
            RequestStop(SIGHUP);
            return;
        }
        filled += static_cast<size_t>(count);
        line[filled] = '\0';
        char* end = nullptr;
        while ((end = strchr(line, '\n')) != nullptr)
        {
            *end = '\0';
            Obey(line);
            filled -= static_cast<size_t>(end + 1 - line);
            memmove(line, end + 1, filled + 1);
        }
        // A line too long for any command is no command.
        filled = filled == sizeof line - 1 ? 0 : filled;
    }
}

} // namespace

void ListenToParent()
{
    std::thread(Listen).detach();
}

void TakeParentNews()
{
    const std::lock_guard<std::mutex> hold(NewsLock);
    for (uint64_t number : PassedElsewhere)
    {
        NotePassed(number);
    }
    PassedElsewhere.clear();
}
