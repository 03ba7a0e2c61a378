#pragma once

#include "target/Chips.h"

#include <cstdint>

// What the chip on the board said to autoselect, as one value for the console, the record and
// the guard.
enum class EChipOutcome
{
    Known,
    Unknown,
    NoChip,
    NoReply,
    // The codes read differently each time, also after the reader was realigned.
    Unsteady,
};

struct CChipIdentity
{
    EChipOutcome Outcome = EChipOutcome::NoReply;
    unsigned char Manufacturer = 0;
    unsigned char Device = 0;
    // The row of a known chip; nullptr otherwise.
    const CChip* Chip = nullptr;
    // Bit i set: sector i is protected. Read only for a known chip.
    uint32_t ProtectedSectors = 0;
    // Why there is no known chip; nullptr for one.
    const char* Reason = "no reply from the board";
};

// Autoselect, the codes (twice), each sector's protection for a chip the table knows, and the
// reset; then the codes are read again, as the array now gives them: the same bytes mean that
// nothing answered autoselect. Codes that differ between their two readings, or a reply too
// many, are asked once more after the frame reader is realigned. The chip is left reading its
// array whatever happens, also when the board stops answering half way. True for a known chip.
bool IdentifyChip(CChipIdentity& identity);
bool IsSectorProtected(const CChipIdentity& identity, int index);

// Why an image of length bytes from start must not be flashed into this chip: nullptr when it
// may. The reason is a fixed text or lies in refusal.
struct CRefusal
{
    char Text[96];
};
const char* RefuseToFlash(const CChipIdentity& identity, int start, int length, CRefusal& refusal);

// The console's lines on the chip, each ending in '\n': the chip with its codes, size and
// sector count, then each protected sector or "no sector protected"; for no known chip the
// codes read, if any, and the reason.
const int ChipTextSize = 2048;
void FormatChipIdentity(const CChipIdentity& identity, char (&text)[ChipTextSize]);
void PrintChipIdentity(const CChipIdentity& identity);
