#include "app/Console.h"

#include "serial/ComPort.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace
{

struct termios SavedTerminal;
const int RestoredSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Puts the terminal and the port back before the signal ends the process as it would have anyway.
void RestoreTerminalAndDie(int signalNumber)
{
    tcsetattr(STDIN_FILENO, TCSANOW, &SavedTerminal);
    ReleaseOpenPorts();
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

void SetRestoreHandlers(void (*handler)(int))
{
    for (int signalNumber : RestoredSignals)
    {
        signal(signalNumber, handler);
    }
}

void ReadOneByte()
{
    char key = 0;
    while (read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR)
    {
    }
}

} // namespace

void MakeOutputUnbuffered()
{
    setvbuf(stdout, nullptr, _IONBF, 0);
}

void WaitForKey()
{
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &SavedTerminal) != 0)
    {
        ReadOneByte();
        return;
    }
    struct termios keyMode = SavedTerminal;
    keyMode.c_lflag &= ~(ICANON | ECHO);
    keyMode.c_cc[VMIN] = 1;
    keyMode.c_cc[VTIME] = 0;
    SetRestoreHandlers(RestoreTerminalAndDie);
    tcsetattr(STDIN_FILENO, TCSANOW, &keyMode);
    ReadOneByte();
    tcsetattr(STDIN_FILENO, TCSANOW, &SavedTerminal);
    SetRestoreHandlers(SIG_DFL);
}
