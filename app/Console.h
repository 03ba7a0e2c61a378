#pragma once

// The console seam: one source file per platform.
#include "app/GangScreen.h"

// A console that goes away (a closed pipe, a closed terminal window's output) must never end
// a flash in the middle: write errors on standard output are ignored from here on.
void KeepRunningWithoutConsole();
// Every later print reaches the console at once, line feed or not, pipe or terminal.
void MakeOutputUnbuffered();
// Waits for one key press without echo on a terminal; otherwise reads one byte or end of
// file, so that unattended runs never hang. On a terminal output the shell's prompt then
// starts on a new line.
void WaitForKey();

// The screen of --ports (app/GangScreen.h): whether standard output is a terminal, and its
// width in columns (0 when unknown).
bool ScreenIsTerminal(int& width);
// Draws the lines, each on a line of its own with its verdict in colour (colour: not under
// NO_COLOR); again: over the lines drawn last, which were as many.
void DrawScreen(const CScreenLine* lines, int count, bool again);
