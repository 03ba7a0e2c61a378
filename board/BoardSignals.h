#pragma once

#include <csignal>

// Catches SIGTERM, SIGINT and SIGHUP, which stop the board, and ignores SIGPIPE, SIGXFSZ and
// SIGTTIN. The stop
// signals stay blocked except while the board waits with waitMask, so none can slip in between
// a check and a wait.
void InstallBoardSignals(sigset_t& waitMask);
// The stop signal caught, or 0.
int StopSignalCaught();
const char* StopSignalName(int signal);
