#pragma once

// What an update must do to each sector, worked out from the flash as read and the new image
// alone: no port, no console, no clock. The runner reads, carries the plan out with the block
// loop and its transactions, and verifies.
#include "target/Chips.h"

enum ESectorAction : unsigned char
{
    SectorUntouched, // the image does not reach it
    SectorKept,      // it holds the image already
    SectorInPlace,   // every differing byte only clears bits: programmed without an erase
    SectorErased,    // erased, then programmed with its new contents
};

struct CSectorPlan
{
    ESectorAction Action;
    int Start;
    // One past the last address that the action writes and verify reads back: the sector's end
    // when it is erased, the image's end within it otherwise.
    int End;
};

struct CUpdatePlan
{
    int SectorCount;
    CSectorPlan Sectors[MaxSectors];
    // The bytes past the image in the sector that holds its end, when that sector is erased:
    // they are read before the erase and programmed back. Empty (KeepStart == KeepEnd) when
    // nothing is to be kept.
    int KeepStart;
    int KeepEnd;
    int SectorsErased;
    int BytesProgrammed; // counted by FillProgram
};

// Compares flash with image over their first length bytes (flash holds the chip's bytes at
// their own addresses), sector by sector of chip. False when the image is empty or reaches
// beyond the chip or beyond ImageCapacity.
bool PlanUpdate(const CChip& chip, const unsigned char* flash, const unsigned char* image,
                int length, CUpdatePlan& plan);

// Once the kept bytes are in flash too: program, ImageCapacity bytes, gets at each address the
// byte to program there, 0xFF for none. In a sector programmed in place that is each byte that
// differs; in an erased sector each byte of its new contents (the image's, then the kept ones)
// but 0xFF, which the erase leaves. Counts plan.BytesProgrammed.
void FillProgram(CUpdatePlan& plan, const unsigned char* flash, const unsigned char* image,
                 int length, unsigned char* program);
