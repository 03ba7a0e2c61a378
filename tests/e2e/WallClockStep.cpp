// Preloaded into orbelt-dl by a test: after the first reading the wall clock has stepped back
// an hour, as a time sync after boot can do in the middle of a download.
#include <ctime>
#include <sys/syscall.h>
#include <unistd.h>

namespace
{

const time_t StepSeconds = 3600;
int Readings = 0;

} // namespace

extern "C" int clock_gettime(clockid_t clock, struct timespec* now)
{
    int result = static_cast<int>(syscall(SYS_clock_gettime, clock, now));
    if (result == 0 && (clock == CLOCK_REALTIME || clock == CLOCK_REALTIME_COARSE) &&
        Readings++ > 0)
    {
        now->tv_sec -= StepSeconds;
    }
    return result;
}

extern "C" time_t time(time_t* out)
{
    struct timespec now = {};
    clock_gettime(CLOCK_REALTIME, &now);
    if (out != nullptr)
    {
        *out = now.tv_sec;
    }
    return now.tv_sec;
}
