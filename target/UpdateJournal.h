#pragma once

// What an update must be able to put back on a board, and enough of the board to know it again:
// one value, kept in a file (target/JournalStore.h) from before the first erase that loses bytes
// until they are back. Pure: no port, no file, no clock.
#include "image/Image.h"
#include "target/Chips.h"

#include <cstddef>

enum EJournalSector : unsigned char
{
    JournalKept,    // the update leaves it as it is
    JournalInPlace, // the update programs some of its bytes, erasing nothing
    JournalErased,  // the update erases it, then programs its new contents
};

struct CJournalSector
{
    EJournalSector Action;
    int Start;
    int End; // one past the last address the journal holds
};

// About 256 KiB: keep it static.
struct CUpdateJournal
{
    unsigned char Manufacturer = 0;
    unsigned char Device = 0;
    int Port = 0; // where it was written, for the operator
    int SectorCount = 0;
    CJournalSector Sectors[MaxSectors] = {};
    // The bytes past the image that the erase of their sector takes and the update programs back.
    int KeepStart = 0;
    int KeepEnd = 0;
    // At their own addresses, over the sectors: the board as the update read it, and as the
    // update leaves it.
    unsigned char Before[ImageCapacity];
    unsigned char After[ImageCapacity];
};

// One past the last address that the journal's fit reads.
int JournalExtent(const CUpdateJournal& journal);

enum EJournalFit
{
    JournalOtherBoard,  // the board is not the one the journal was written for
    JournalNothingLost, // it is, or one just like it, and holds the kept bytes
    JournalToRestore,   // it is, and the kept bytes are to be programmed back
};

// What the board whose chip has these codes and whose flash holds flash (its bytes at their own
// addresses, up to JournalExtent) is to the journal. Each sector must read as the update could
// have left it: a kept one as before; one programmed in place between its bytes before and
// after; an erased one as before, or erased and programmed towards its bytes after.
EJournalFit FitJournal(const CUpdateJournal& journal, unsigned char manufacturer,
                       unsigned char device, const unsigned char* flash);

// The journal as the bytes of its file, and back. Writing returns the length, 0 when capacity is
// too small; reading is false for bytes that are no whole journal of this version.
const size_t JournalTextCapacity = 2 * ImageCapacity + 4096;
size_t FormatJournal(const CUpdateJournal& journal, unsigned char* text, size_t capacity);
bool ParseJournal(const unsigned char* text, size_t length, CUpdateJournal& journal);
