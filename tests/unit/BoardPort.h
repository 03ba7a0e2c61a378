#pragma once

// TargetPort in the unit tests: no serial line, but the board's own flash model and frame
// server in this process, answering every frame the moment it is written. A read the board
// leaves short costs its time-out on the fake clock (tests/unit/FakeClock.cpp), so a board that
// never answers takes no real time.
#include "board/BoardOptions.h"
#include "tests/unit/FakeClock.h"

#include <cstdint>
#include <string>
#include <vector>

// Puts a new board on the line: the options orbelt-board's command line would give it, its flash
// holding contents from address 0 and erased bytes after them. False, with error, for options
// orbelt-board would refuse.
bool ConnectBoard(const std::vector<std::string>& options, const std::vector<uint8_t>& contents,
                  std::string& error);
// Whether the next Open finds the device.
void SetPortOpens(bool opens);
// Every byte the host has written to the board since it was put on.
const std::vector<uint8_t>& BytesSent();
const std::vector<uint8_t>& BoardFlash();
