#pragma once

// What brings a board back to a known state: after a failed stage, and before any question to
// the chip, whatever a run that was killed, cut off or stopped left behind.
#include "target/BoardRun.h"
#include "target/FlashCommands.h"

// The board reads frames of five bytes: a frame cut short (an adapter pulled mid-frame) leaves
// the bytes it got in the board's reader, and every later frame is read shifted. Bytes of 0xFF
// complete whatever it holds without changing the flash, then zero bytes, one at a time, make a
// read frame: its reply means the reader is in step again. False when no reply came; outOfStep
// when the reader held part of a frame.
bool RealignFrameReader(bool& outOfStep);
// Realigns the frame reader, and says so when it was out of step: the likely cause of a failure,
// a wrong read-back byte included. The failure stays the run's reason.
void RealignAfterFailure();
// Sends a sequence that must reach the chip after a failure, whatever a stop request says, such
// as the reset that ends autoselect. Best effort, so that a failing run does not get slower:
// the replies get a short grace.
void SendSequenceAfterFailure(const CCommandSequence& sequence);
// A program stage that ends early may leave the chip in unlock bypass, where it ignores the
// next run's chip erase until power-cycled: the leave cycles go out whatever a stop request
// says.
void LeaveBypassAfterFailure();

// An erase that a stopped or killed run left running ignores every command until it ends: false,
// with a diagnostic, when it does not end in time.
bool AwaitChipIdle();
// Before the first question to the chip: the frame reader realigned, the chip back to reading
// its array (out of an armed program, unlock bypass or autoselect), and an erase still running
// waited for. False, with a diagnostic, when that erase does not end or a stop came first; a
// board that does not answer is left to the question, which tells it.
bool RecoverBoard();
// The same, once a run: before its first question to the chip.
bool RecoverOnce(CBoardRun& run);
