#include "target/Progress.h"

#include <cinttypes>
#include <cstdio>

void ShowStage(const char* label)
{
    printf("%-20s", label);
}

void ShowBlock(int offset, int total)
{
    printf("\b\b\b\b\b%3d %s", static_cast<int>(offset * 100LL / total), "%");
}

void ShowStageDone()
{
    printf("\b\b\b\b\b%3d %s\n", 100, "%");
}

void ShowStageFailed()
{
    printf("\b\b\b\b\b\b Error\n");
}

void ShowErasePoll()
{
    printf("+");
}

void ShowEraseEnd(int marks, bool erased)
{
    for (int mark = 0; mark <= marks; ++mark)
    {
        printf("\b \b");
    }
    if (erased)
    {
        printf("\b\b\b Ok\n");
    }
}

void ShowErasePollsTakenBack(int marks)
{
    for (int mark = 0; mark < marks; ++mark)
    {
        printf("\b \b");
    }
}

void ShowElapsed(long seconds)
{
    int elapsed = static_cast<int>(seconds);
    printf("Time  %d:%02d\n", elapsed / 60, elapsed % 60);
}

void ShowSerialNumber(uint64_t number)
{
    printf("%-10s%" PRIu64 "\n", "Serial", number);
}

void ShowPortFailure(int portNumber)
{
    printf("Can't open COM%d\n", portNumber);
}

void ShowMessage(const char* text)
{
    printf("%s", text);
}
