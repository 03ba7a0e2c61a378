#pragma once

// The console seam: one source file per platform.

// Every later print reaches the console at once, line feed or not, pipe or terminal.
void MakeOutputUnbuffered();
// Waits for one key press without echo on a terminal; otherwise reads one byte or end of
// file, so that unattended runs never hang.
void WaitForKey();
