#pragma once

// Stop requests: one source file per platform. From CatchStopRequests on, SIGINT, SIGTERM and
// SIGHUP (on Windows Ctrl-C, Ctrl-Break and closing the console) no longer end the process at
// once: the download stops at the next frame boundary and leaves the chip in a usable state.
// A signal that the caller set to be ignored stays ignored.
void CatchStopRequests();
// Signals act as they did before CatchStopRequests again; a request already made stays.
void ReleaseStopRequests();
bool StopRequested();
// A stop request that the program makes itself, from any thread, as signal signalNumber would
// make it (a worker whose parent has gone, or asks it to stop).
void RequestStop(int signalNumber);
// The signal behind the request, for the exit status 128 + n; 0 while none came.
int StopSignal();
// POSIX: a descriptor that turns readable once a stop is requested, so that a poll() on the
// port ends with it. -1 where there is none.
int StopDescriptor();

// What must still reach the board after a stop (the bytes an update put aside) goes out whole:
// while finishing, a stop that came before no longer cuts port waits and transactions short.
// StopRequested still tells that it came.
void FinishDespiteStop(bool finishing);
// A stop request that cuts waits and transactions short: one came, and the run is not finishing.
bool StopCutsShort();
