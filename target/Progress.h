#pragma once

#include <cstdint>

// What a run shows on the console while it works: a stage label in a 20-character field whose
// last five places are redrawn in place with backspaces. One source file draws it all; the
// stages and transactions only say what happened.

void ShowStage(const char* label);
// The figure before a block: offset * 100 / total, "  0 %" to " 99 %".
void ShowBlock(int offset, int total);
void ShowStageDone();
// The Error marker that ends a failed stage's line.
void ShowStageFailed();
// One "+" per poll of the erasing chip.
void ShowErasePoll();
// Takes back the poll marks (one more place than marks) and, when the chip reads erased,
// writes " Ok" at the end of the field.
void ShowEraseEnd(int marks, bool erased);
// Takes back exactly marks poll marks: the polls start again.
void ShowErasePollsTakenBack(int marks);
void ShowElapsed(long seconds);
// The board's serial number, "Serial    1000", before its first stage.
void ShowSerialNumber(uint64_t number);
void ShowPortFailure(int portNumber);
// A transaction's own message ("Program Error\n", "Read More \n", ...), printed as it is.
void ShowMessage(const char* text);
