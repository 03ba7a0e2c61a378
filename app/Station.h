#pragma once

#include "app/CommandLine.h"
#include "target/BoardRun.h"

// --station, after the start-up line: checks the arguments, loads the image and opens the port
// once, then flashes each board put on the line, without key waits, until a stop request. setup
// is the run of the start: its record tells why a station could not start. A record that
// cannot be written ends the station.
// Returns the exit status: 0 when every board flashed passed (or none was flashed), 1 when one
// failed or the station could not start, 128 + N when signal N cut a download short.
int RunStation(const CArguments& arguments, CBoardRun& setup);
