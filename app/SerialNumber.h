#pragma once

// Each board its own serial number (--serial-at, --serial-file, --serial-format): taken from the
// counter file (app/CounterFile.h) before the board's run touches the board and written into a
// copy of the plain image for that board only; the image buffer stays the file's image.
#include "app/CommandLine.h"
#include "image/SerialFormat.h"
#include "target/BoardRun.h"

#include <cstdint>

// The settings, written by the argument walk.
extern int SerialAt;                 // --serial-at ADDR, the number's flash address; -1 otherwise
extern const char* SerialPath;       // --serial-file FILE, the counter file; nullptr otherwise
extern CSerialFormat SerialFormat;   // --serial-format F, le32 by default
extern const char* SerialFormatName; // its name, for messages

// Sets the defaults, before the walk.
void ResetSerialSettings();
// The option table's appliers.
bool ApplySerialAt(CArguments& walk, const char* name, const char* value);
bool ApplySerialFile(CArguments& walk, const char* name, const char* value);
bool ApplySerialFormat(CArguments& walk, const char* name, const char* value);

// Once the image is loaded, before the board is touched: the number's bytes lie inside the
// image, and the counter file gives a number that fits the format. True without --serial-at;
// false, with a diagnostic, when the run cannot go on.
bool CheckSerialNumbers();
// Takes the next number for run (used up from then on, whatever becomes of the board) and
// points run.Image at the image with the number in it. True without --serial-at; false, with a
// diagnostic, when no number was taken or it does not fit.
bool TakeSerialNumber(CBoardRun& run);
// A station's board just found: whether its number field holds a number this process has
// already handed out (a board that came back), read from the board in a few read frames.
bool BoardCameBack(uint64_t& number);
