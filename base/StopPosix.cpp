#include "base/Stop.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <unistd.h>

namespace
{

// Set by the handler and by other threads: lock-free, so safe in a handler too.
std::atomic<int> CaughtSignal{0};
// Written to by the handler and never read: once readable, it stays readable.
int WakePipe[2] = {-1, -1};
const int StopSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction PreviousActions[std::size(StopSignals)];

void Caught(int signalNumber)
{
    int savedErrno = errno;
    int none = 0;
    CaughtSignal.compare_exchange_strong(none, signalNumber);
    char mark = 1;
    ssize_t ignored = write(WakePipe[1], &mark, 1);
    (void)ignored;
    errno = savedErrno;
}

} // namespace

void RequestStop(int signalNumber)
{
    Caught(signalNumber);
}

void CatchStopRequests()
{
    if (WakePipe[0] < 0 && pipe(WakePipe) == 0)
    {
        for (int fd : WakePipe)
        {
            fcntl(fd, F_SETFL, O_NONBLOCK);
            fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
    }
    struct sigaction action = {};
    action.sa_handler = Caught;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a wait that a stop interrupts returns and looks at the request.
    for (size_t i = 0; i < std::size(StopSignals); ++i)
    {
        sigaction(StopSignals[i], nullptr, &PreviousActions[i]);
        if (PreviousActions[i].sa_handler != SIG_IGN)
        {
            sigaction(StopSignals[i], &action, nullptr);
        }
    }
}

void ReleaseStopRequests()
{
    for (size_t i = 0; i < std::size(StopSignals); ++i)
    {
        sigaction(StopSignals[i], &PreviousActions[i], nullptr);
    }
}

bool StopRequested()
{
    return CaughtSignal.load() != 0;
}

int StopSignal()
{
    return CaughtSignal.load();
}

int StopDescriptor()
{
    return WakePipe[0];
}
