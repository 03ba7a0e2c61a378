#include "app/Console.h"

#include "base/ConsoleOut.h"
#include "serial/ComPort.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <iterator>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace
{

struct termios SavedTerminal;
struct termios KeyMode;
const int EndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction PreviousEnding[std::size(EndingSignals)];
struct sigaction PreviousStop;
struct sigaction PreviousContinue;

// Puts the terminal and the port back before the signal ends the process as it would have
// anyway.
void RestoreTerminalAndDie(int signalNumber)
{
    tcsetattr(STDIN_FILENO, TCSANOW, &SavedTerminal);
    ReleaseOpenPorts();
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

void ResumeKeyMode(int)
{
    int savedErrno = errno;
    tcsetattr(STDIN_FILENO, TCSANOW, &KeyMode);
    errno = savedErrno;
}

// Ctrl-Z: the shell gets its terminal back as it was while the process is stopped.
void RestoreTerminalAndStop(int signalNumber)
{
    int savedErrno = errno;
    tcsetattr(STDIN_FILENO, TCSANOW, &SavedTerminal);
    signal(signalNumber, SIG_DFL);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, signalNumber);
    sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    raise(signalNumber);
    // Continued: SIGCONT's handler has set the key mode again.
    signal(signalNumber, RestoreTerminalAndStop);
    errno = savedErrno;
}

// A signal the caller set to be ignored stays ignored.
void Catch(int signalNumber, struct sigaction& previous, void (*handler)(int))
{
    sigaction(signalNumber, nullptr, &previous);
    if (previous.sa_handler != SIG_IGN)
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

void WaitForTerminalKey()
{
    KeyMode = SavedTerminal;
    KeyMode.c_lflag &= ~(ICANON | ECHO);
    KeyMode.c_cc[VMIN] = 1;
    KeyMode.c_cc[VTIME] = 0;
    for (size_t i = 0; i < std::size(EndingSignals); ++i)
    {
        Catch(EndingSignals[i], PreviousEnding[i], RestoreTerminalAndDie);
    }
    Catch(SIGTSTP, PreviousStop, RestoreTerminalAndStop);
    Catch(SIGCONT, PreviousContinue, ResumeKeyMode);
    tcsetattr(STDIN_FILENO, TCSANOW, &KeyMode);
    ReadOneByte();
    // The rest of a key that sends several bytes (an arrow key) must not reach the shell.
    tcflush(STDIN_FILENO, TCIFLUSH);
    tcsetattr(STDIN_FILENO, TCSANOW, &SavedTerminal);
    sigaction(SIGCONT, &PreviousContinue, nullptr);
    sigaction(SIGTSTP, &PreviousStop, nullptr);
    for (size_t i = 0; i < std::size(EndingSignals); ++i)
    {
        sigaction(EndingSignals[i], &PreviousEnding[i], nullptr);
    }
}

} // namespace

void KeepRunningWithoutConsole()
{
    signal(SIGPIPE, SIG_IGN);
}

void MakeOutputUnbuffered()
{
    setvbuf(stdout, nullptr, _IONBF, 0);
}

void WaitForKey()
{
    if (isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &SavedTerminal) == 0)
    {
        WaitForTerminalKey();
    }
    else
    {
        ReadOneByte();
    }
    if (isatty(STDOUT_FILENO))
    {
        ConsoleText("\n");
    }
}

bool ScreenIsTerminal(int& width)
{
    struct winsize size = {};
    width = ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
    return isatty(STDOUT_FILENO) != 0;
}

void DrawScreen(const CScreenLine* lines, int count, bool again)
{
    DrawWithSequences(lines, count, again);
}
