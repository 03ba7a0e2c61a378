// Takes COUNT numbers from the counter file FILE, printing each on a line as soon as it is
// taken; with --hold it then waits for the end of standard input, so that a test can kill it.
#include "app/CounterFile.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc < 3)
    {
        fprintf(stderr, "usage: %s FILE COUNT [--hold]\n", argv[0]);
        return 2;
    }
    for (long i = strtol(argv[2], nullptr, 10); i > 0; --i)
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
    while (argc > 3 && strcmp(argv[3], "--hold") == 0 && getchar() != EOF)
    {
    }
    return 0;
}
