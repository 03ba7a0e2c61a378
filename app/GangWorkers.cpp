#include "app/GangWorkers.h"

#include "app/Settings.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

CPort Ports[MaxPortNumber];
int PortCount = 0;

namespace
{

std::mutex QueueLock;
std::condition_variable QueueSignal;
std::deque<CWorkerLine> Queue;

void Push(CWorkerLine line)
{
    {
        const std::lock_guard<std::mutex> hold(QueueLock);
        Queue.push_back(std::move(line));
    }
    QueueSignal.notify_one();
}

// One thread a worker: its output cut into lines, then its end.
void Read(int index)
{
    const CChild& child = Ports[index].Child;
    std::string pending;
    char buffer[4096];
    for (long count = 0; (count = ReadChild(child, buffer, sizeof buffer)) > 0;)
    {
        pending.append(buffer, static_cast<size_t>(count));
        for (size_t end = 0; (end = pending.find('\n')) != std::string::npos;)
        {
            Push({index, false, pending.substr(0, end)});
            pending.erase(0, end + 1);
        }
    }
    Push({index, true, std::string()});
}

} // namespace

bool StartWorker(int index, char* const* arguments)
{
    CPort& port = Ports[index];
    if (!SpawnChild(port.Child, arguments, port.LogPath))
    {
        Diagnose("the worker of COM%d cannot start: %s", port.Number, strerror(errno));
        return false;
    }
    port.Running = true;
    port.Reader = std::thread(Read, index);
    return true;
}

bool NextWorkerLine(CWorkerLine& line, int timeoutMs)
{
    std::unique_lock<std::mutex> hold(QueueLock);
    if (!QueueSignal.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                              [] { return !Queue.empty(); }))
    {
        return false;
    }
    line = std::move(Queue.front());
    Queue.pop_front();
    return true;
}

void TellWorkers(const char* line, int except)
{
    for (int i = 0; i < PortCount; ++i)
    {
        if (i != except && Ports[i].Running)
        {
            WriteChild(Ports[i].Child, line, strlen(line));
        }
    }
}

bool ReapWorker(CPort& port, char (&why)[128])
{
    port.Reader.join();
    CloseChildOutput(port.Child);
    CloseChildInput(port.Child);
    port.Running = false;
    int exitCode = -1;
    int signalNumber = 0;
    if (!ReapChild(port.Child, exitCode, signalNumber))
    {
        snprintf(why, sizeof why, "the worker of COM%d was lost: %s", port.Number, strerror(errno));
        return false;
    }
    if (signalNumber != 0)
    {
        snprintf(why, sizeof why, "the worker of COM%d was ended by signal %d", port.Number,
                 signalNumber);
    }
    else
    {
        snprintf(why, sizeof why, "the worker of COM%d ended with status %d before its board",
                 port.Number, exitCode);
    }
    // A station's worker ends by itself after a stop, also one that never had a board.
    return signalNumber == 0 && !port.BoardOpen && (port.Ended || StationMode);
}
