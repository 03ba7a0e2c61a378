#pragma once

// Station mode on the line: whether a board is there, asked with reads of address 0 only (a
// write cycle could change a board before its turn), and the port closed while its device is
// gone and opened again once it is back.

// What the line shows while the station waits.
enum ELineState
{
    LineEmpty,    // nothing answers
    LineNoPort,   // the port's device has gone (an adapter unplugged)
    LineSettling, // a board answers, not yet for long enough
    LineOccupied, // the board flashed last is still there
};

const int ProbePeriodMs = 250;
const int ProbeWaitMs = 100;
// Contacts that are still settling answer now and then: a board is flashed once it has answered
// every probe for this long.
const int SettleMs = 500;
// A board has gone once the probes have had no answer for this long.
const int GoneMs = 1000;

// Waits until a board has answered every probe for SettleMs, reopening the port whenever its
// device is away. show gets what the line shows after each probe. False when a stop is
// requested first.
bool AwaitNewBoard(void (*show)(ELineState));
// Waits until the board on the line has gone: GoneMs of probes without an answer, or the port's
// device has gone. False when a stop is requested first.
bool AwaitBoardGone(void (*show)(ELineState));
// A board may come with its frame reader out of step (its adapter pulled mid-frame while it
// stayed powered), which the probes cannot see: realigned before each board's download.
void RealignBoard();
