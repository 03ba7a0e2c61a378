#include "image/ImageOpen.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace
{

// Long enough that an image with a writer never shows it.
const int NoteAfterMs = 500;

char Line[8192];
size_t LineLength = 0;
bool Armed = false;
struct sigaction Previous;

// Only write(2) here: the signal may come in the middle of anything.
void SayIt(int)
{
    ssize_t ignored = write(STDERR_FILENO, Line, LineLength);
    (void)ignored;
}

} // namespace

void NoteSlowOpen(const char* path, const char* line)
{
    struct stat status;
    if (stat(path, &status) != 0 || !S_ISFIFO(status.st_mode))
    {
        return;
    }
    const int length = snprintf(Line, sizeof Line, "%s\n", line);
    LineLength = length > 0 ? std::min(static_cast<size_t>(length), sizeof Line - 1) : 0;
    struct sigaction action = {};
    action.sa_handler = SayIt;
    sigemptyset(&action.sa_mask);
    // The open goes on after the line.
    action.sa_flags = SA_RESTART;
    sigaction(SIGALRM, &action, &Previous);
    struct itimerval once = {};
    once.it_value.tv_usec = NoteAfterMs * 1000L;
    setitimer(ITIMER_REAL, &once, nullptr);
    Armed = true;
}

void EndSlowOpen()
{
    if (Armed)
    {
        const struct itimerval off = {};
        setitimer(ITIMER_REAL, &off, nullptr);
        sigaction(SIGALRM, &Previous, nullptr);
        Armed = false;
    }
}
