#include "target/Progress.h"

#include "base/ConsoleOut.h"
#include "base/Diagnostic.h"

#include <cinttypes>

namespace
{

// The figure last told as an event: a stage's progress goes out only when it changes.
int ToldPercent = -1;

void TellPercent(int percent)
{
    if (percent != ToldPercent)
    {
        ToldPercent = percent;
        ConsoleEvent("progress", "\"stage\":\"%s\",\"percent\":%d", CurrentStage(), percent);
    }
}

} // namespace

void ShowStage(const char* label)
{
    ConsoleText("%-20s", label);
    ToldPercent = -1;
    ConsoleEvent("stage", "\"stage\":\"%s\",\"label\":\"%s\"", CurrentStage(), label);
}

void ShowBlock(int offset, int total)
{
    const int percent = static_cast<int>(offset * 100LL / total);
    ConsoleText("\b\b\b\b\b%3d %s", percent, "%");
    TellPercent(percent);
}

void ShowStageDone()
{
    ConsoleText("\b\b\b\b\b%3d %s\n", 100, "%");
    TellPercent(100);
}

void ShowStageFailed()
{
    ConsoleText("\b\b\b\b\b\b Error\n");
}

void ShowErasePoll()
{
    ConsoleText("+");
}

void ShowEraseEnd(int marks, bool erased)
{
    for (int mark = 0; mark <= marks; ++mark)
    {
        ConsoleText("\b \b");
    }
    if (erased)
    {
        ConsoleText("\b\b\b Ok\n");
        TellPercent(100);
    }
}

void ShowErasePollsTakenBack(int marks)
{
    for (int mark = 0; mark < marks; ++mark)
    {
        ConsoleText("\b \b");
    }
}

void ShowElapsed(long seconds)
{
    int elapsed = static_cast<int>(seconds);
    ConsoleText("Time  %d:%02d\n", elapsed / 60, elapsed % 60);
}

void ShowSerialNumber(uint64_t number)
{
    ConsoleText("%-10s%" PRIu64 "\n", "Serial", number);
    ConsoleEvent("serial", "\"serial\":%" PRIu64, number);
}

void ShowPortFailure(int portNumber)
{
    ConsoleText("Can't open COM%d\n", portNumber);
}

void ShowMessage(const char* text)
{
    ConsoleText("%s", text);
}
