#include "app/GangScreen.h"

#include "base/ConsoleOut.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

// A verdict's text and its colour, one row a verdict in their order: one table.
struct CVerdictLook
{
    const char* Text;
    const char* Colour;
};

const CVerdictLook Looks[] = {
    {"", nullptr}, // VerdictNone
    {"OK", "32"},  // VerdictOk, green
    {"NG", "31"},  // VerdictNg, red
};

void Cut(CScreenLine& line, int width)
{
    const int limit = width > 1 ? width - 1 : ScreenLineCapacity - 1;
    if (static_cast<int>(strlen(line.Text)) > limit)
    {
        line.Text[limit] = '\0';
    }
    if (line.VerdictAt >= limit)
    {
        line.VerdictLength = 0;
    }
    else if (line.VerdictAt + line.VerdictLength > limit)
    {
        line.VerdictLength = limit - line.VerdictAt;
    }
}

void ComposePort(const CPortView& port, CScreenLine& line)
{
    char board[24] = "";
    char serial[32] = "";
    if (port.Board > 0)
    {
        snprintf(board, sizeof board, "board %d", port.Board);
    }
    if (port.HasSerial)
    {
        snprintf(serial, sizeof serial, "serial %" PRIu64, port.Serial);
    }
    char com[16];
    snprintf(com, sizeof com, "COM%d", port.Port);
    int used = snprintf(line.Text, sizeof line.Text, "%-8s%-10s%-18s%-22s", com, board, serial,
                        port.State);
    used = used < 0 ? 0 : used >= ScreenLineCapacity ? ScreenLineCapacity - 1 : used;
    const CVerdictLook& look = Looks[port.Last];
    line.Verdict = port.Last;
    line.VerdictAt = used;
    line.VerdictLength = static_cast<int>(strlen(look.Text));
    if (port.Last != VerdictNone)
    {
        snprintf(line.Text + used, sizeof line.Text - used, "%s %.1f s  (%d OK, %d NG)", look.Text,
                 port.LastSeconds, port.Passed, port.Failed);
    }
}

} // namespace

int ComposeScreen(const CPortView* ports, int count, const CScreenTotals& totals, int width,
                  CScreenLine* lines)
{
    for (int i = 0; i < count; ++i)
    {
        ComposePort(ports[i], lines[i]);
        Cut(lines[i], width);
    }
    CScreenLine& sum = lines[count];
    const int boards = totals.Passed + totals.Failed;
    const double perHour = totals.Hours > 0 ? boards / totals.Hours : 0;
    snprintf(sum.Text, sizeof sum.Text, "%d %s: %d OK, %d NG, %.0f boards/h", boards,
             boards == 1 ? "board" : "boards", totals.Passed, totals.Failed, perHour);
    sum.VerdictAt = 0;
    sum.VerdictLength = 0;
    sum.Verdict = VerdictNone;
    Cut(sum, width);
    return count + 1;
}

const char* VerdictColour(EVerdict verdict)
{
    const char* none = getenv("NO_COLOR");
    return none != nullptr && none[0] != '\0' ? nullptr : Looks[verdict].Colour;
}

void DrawWithSequences(const CScreenLine* lines, int count, bool again)
{
    if (again)
    {
        ConsoleText("\x1b[%dA", count);
    }
    for (int i = 0; i < count; ++i)
    {
        const CScreenLine& line = lines[i];
        const char* colour = line.VerdictLength > 0 ? VerdictColour(line.Verdict) : nullptr;
        if (colour == nullptr)
        {
            ConsoleText("\r\x1b[2K%s\n", line.Text);
            continue;
        }
        ConsoleText("\r\x1b[2K%.*s\x1b[%sm%.*s\x1b[0m%s\n", line.VerdictAt, line.Text, colour,
                    line.VerdictLength, line.Text + line.VerdictAt,
                    line.Text + line.VerdictAt + line.VerdictLength);
    }
}
