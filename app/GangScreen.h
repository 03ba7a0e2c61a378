#pragma once

// The screen of --ports: a pure function from the ports' latest states to its lines. A terminal
// gets them redrawn in place (app/Console.h); anything else gets no screen.
#include <cstdint>

enum EVerdict
{
    VerdictNone,
    VerdictOk,
    VerdictNg,
};

struct CPortView
{
    uint64_t Serial = 0;
    double LastSeconds = 0;
    int Port = 0;
    int Board = 0; // the board under way, or the last; 0 before the first
    int Passed = 0;
    int Failed = 0;
    EVerdict Last = VerdictNone; // the last board's verdict
    bool HasSerial = false;
    // The stage and its figure ("Program        45 %"), or the state between boards.
    char State[64] = "starting";
};

struct CScreenTotals
{
    int Passed;
    int Failed;
    double Hours; // since the run began
};

const int ScreenLineCapacity = 256;

struct CScreenLine
{
    char Text[ScreenLineCapacity];
    // Where the verdict stands in Text, for its colour; Length 0 for none.
    int VerdictAt;
    int VerdictLength;
    EVerdict Verdict;
};

// One line a port, then the totals, each cut to width - 1 columns so that none ever wraps into
// the next (width 0: no limit). Returns the number of lines.
int ComposeScreen(const CPortView* ports, int count, const CScreenTotals& totals, int width,
                  CScreenLine* lines);
// A verdict's colour on a terminal, as the SGR parameter ("32"); nullptr for none, and for all
// under NO_COLOR.
const char* VerdictColour(EVerdict verdict);
// Draws the lines with terminal sequences: over the lines drawn last, which were as many, when
// again; each erased and written anew, its verdict in colour.
void DrawWithSequences(const CScreenLine* lines, int count, bool again);
