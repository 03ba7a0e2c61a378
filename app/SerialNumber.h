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
// image, and the counter file gives a number that fits the format and may be advanced. True
// without --serial-at; false, with a diagnostic, when the run cannot go on.
bool CheckSerialNumbers();
// The board's number field, read once the board is in a known state (target/Download.h).
bool ReadNumberField(CBoardRun& run, unsigned char (&field)[MaxSerialDigits]);
// The board's number from its field: the number it holds when this counter handed it out
// (run.SerialKept), else the counter's next (used up from then on, whatever becomes of the
// board). Points run.Image at the image with the number in it. With -vo only the field's number,
// if it holds one, and the image with the board's own field, so that verify compares all else.
// False, with a diagnostic, when the board gets no number or it does not fit.
bool NumberFromField(CBoardRun& run, const unsigned char* field);
// A single run's number, before its stages: the field read, then numbered. An update numbers its
// board once it has read it (target/Update.h). True without --serial-at.
bool TakeSerialNumber(CBoardRun& run);
// A station's board that passed: it is left alone should it come back (also from another
// port of the same gang).
void NotePassed(uint64_t number);
bool PassedBefore(uint64_t number);
// The number a field holds, if it holds one.
bool NumberInField(const unsigned char* field, uint64_t& number);
