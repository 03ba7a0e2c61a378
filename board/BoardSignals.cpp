#include "board/BoardSignals.h"

static volatile sig_atomic_t StopSignal = 0;

static void OnStopSignal(int signal)
{
    StopSignal = signal;
}

static const int StopSignals[] = {SIGTERM, SIGINT, SIGHUP};

void InstallBoardSignals(sigset_t& waitMask)
{
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (int signal : StopSignals)
    {
        sigaddset(&stopSignals, signal);
    }
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    struct sigaction action
    {
    };
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : StopSignals)
    {
        sigdelset(&waitMask, signal);
        sigaction(signal, &action, nullptr);
    }
    std::signal(SIGPIPE, SIG_IGN);
    // A file-size limit makes a write of the dump or trace fail with its message instead.
    std::signal(SIGXFSZ, SIG_IGN);
    // Reading commands from the terminal of a background job then fails instead of stopping it.
    std::signal(SIGTTIN, SIG_IGN);
}

int StopSignalCaught()
{
    return StopSignal;
}

const char* StopSignalName(int signal)
{
    return signal == SIGINT ? "SIGINT" : signal == SIGHUP ? "SIGHUP" : "SIGTERM";
}
