// Takes COUNT numbers from the counter file FILE, printing each on a line as soon as it is taken.
#include "app/CounterFile.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    for (long i = argc == 3 ? strtol(argv[2], nullptr, 10) : 0; i > 0; --i)
    {
        uint64_t number = 0;
        ECounterStatus status = TakeNextNumber(argv[1], number);
        if (status != CounterOk)
        {
            fprintf(stderr, "%s %s: %s\n", argv[1], CounterStatusText(status), strerror(errno));
            return 1;
        }
        printf("%" PRIu64 "\n", number);
        fflush(stdout);
    }
    return argc == 3 ? 0 : 2;
}
