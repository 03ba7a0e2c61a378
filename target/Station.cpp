#include "target/Station.h"

#include "base/Clock.h"
#include "base/Diagnostic.h"
#include "base/Stop.h"
#include "serial/ComPort.h"
#include "target/Download.h"
#include "target/Recovery.h"
#include "target/TargetLink.h"

namespace
{

const int ProbeAddress = 0;

// What a wait waits for: the answer (or its absence) held for HoldMs, and what the line shows
// after a probe that got one and after one that did not.
struct CLineWait
{
    bool Answering;
    int HoldMs;
    ELineState Answered;
    ELineState Silent;
};

const CLineWait NewBoard = {true, SettleMs, LineSettling, LineEmpty};
const CLineWait BoardGone = {false, GoneMs, LineOccupied, LineOccupied};

// A port whose device has gone is closed, so that the device is let go (lock file, exclusive
// mode) while it is away; every probe then tries to open it again, telling each new reason it
// cannot be opened once.
bool Probe()
{
    if (!TargetPort.IsOpen())
    {
        if (!ReopenTargetPort())
        {
            return false;
        }
        QuietRepeats(false);
        RealignBoard();
    }
    if (ProbeTarget(ProbeAddress, ProbeWaitMs))
    {
        return true;
    }
    if (TargetPort.Gone())
    {
        TargetPort.Close();
        QuietRepeats(true);
    }
    return false;
}

// Probes every ProbePeriodMs until the wait's answer has held for its time since the first
// probe that got it. A port whose device has gone is as silent as can be.
bool AwaitLine(const CLineWait& wait, void (*show)(ELineState))
{
    long long since = -1;
    long long due = ClockMilliseconds();
    while (!StopRequested())
    {
        const long long now = ClockMilliseconds();
        const bool answered = Probe();
        show(answered ? wait.Answered : !TargetPort.IsOpen() ? LineNoPort : wait.Silent);
        since = answered != wait.Answering ? -1 : since < 0 ? now : since;
        if (since >= 0 && (now - since >= wait.HoldMs || !TargetPort.IsOpen()))
        {
            return true;
        }
        due += ProbePeriodMs;
        const long long left = due - ClockMilliseconds();
        if (left > 0)
        {
            PauseMilliseconds(static_cast<int>(left));
        }
        else
        {
            due = ClockMilliseconds();
        }
    }
    return false;
}

} // namespace

void RealignBoard()
{
    bool outOfStep = false;
    if (RealignFrameReader(outOfStep) && outOfStep)
    {
        Warn("the board's frame reader was out of step; it has been realigned");
    }
}

bool AwaitNewBoard(void (*show)(ELineState))
{
    return AwaitLine(NewBoard, show);
}

bool AwaitBoardGone(void (*show)(ELineState))
{
    return AwaitLine(BoardGone, show);
}
