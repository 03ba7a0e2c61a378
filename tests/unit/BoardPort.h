#pragma once

// TargetPort in the unit tests: no serial line, but the board's own flash model and frame
// server in this process, answering every frame the moment it is written. A read the board
// leaves short costs its time-out on the fake clock (tests/unit/FakeClock.h), so a board that
// never answers takes no real time. Boards can be put on and taken off the line, and the port's
// device can go away, at given fake times (after ResetFakeClock, which forgets them).
#include "board/BoardOptions.h"
#include "tests/unit/FakeClock.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A fresh line with a board on it now: the options orbelt-board's command
// line would give it, its flash holding contents from address 0 and erased bytes after them.
// False, with error, for options orbelt-board would refuse.
bool ConnectBoard(const std::vector<std::string>& options, const std::vector<uint8_t>& contents,
                  std::string& error);
// The same at the fake time atMs, onto a line that may have had other boards: a new board.
bool PutBoardOnAt(long long atMs, const std::vector<std::string>& options,
                  const std::vector<uint8_t>& contents, std::string& error);
// From atMs the board on the line answers no more frames; the port's device stays.
void TakeBoardOffAt(long long atMs);
// The port's device goes at goneMs, taking the board with it (reads and writes fail at once,
// Open finds nothing), and is back at backMs without a board.
void UnplugPortAt(long long goneMs, long long backMs);
// The same at once, for good.
void UnplugPort();
// change happens right after the board on the line has received the nth frame (from 1) for
// which match holds.
void AtFrame(const std::function<bool(const uint8_t* frame)>& match, int nth,
             std::function<void()> change);
// A stop request as signal signalNumber would make it, at atMs.
void RequestStopAt(long long atMs, int signalNumber);
// Whether the next Open finds the device.
void SetPortOpens(bool opens);

// The boards put on the line, in order: 1 after ConnectBoard.
int BoardsPutOn();
// Every byte the host has written to a board since it was put on; by default the last one.
const std::vector<uint8_t>& BytesSent(int board = -1);
// The fake time each of those bytes came at.
const std::vector<long long>& ByteTimes(int board = -1);
const std::vector<uint8_t>& BoardFlash(int board = -1);
// Of the frames a board received: how many carry command, how many were probes (reads of
// address 0), and the fake time of the first that was none (the erase's first write cycle), -1
// when all were.
size_t FramesWith(int board, uint8_t command);
size_t ProbesSent(int board);
long long FirstNonProbeMs(int board);
// Whether the port is open now, and how often it has been opened.
bool PortOpenNow();
int PortOpenings();

// The stop requests of the unit tests, in place of the signals (tests/unit/FakeStop.cpp).
void ResetFakeStop();
void RequestFakeStop(int signalNumber);
