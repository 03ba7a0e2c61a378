#pragma once

#include "board/BoardOptions.h"

// Opens the pseudo-terminal, serves the host until a signal, a hang-up (with --exit-on-close)
// or the vanish fault ends it, then writes the dump and the trace. Returns the exit status.
int RunBoard(const CBoardOptions& options);
