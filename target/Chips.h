#pragma once

// The flash chips the tool knows, as data: one row per part, found by its autoselect codes.
// Every part is 8-bit, AMD command set; what differs is its codes, size and sector map.

struct CSectorRun
{
    int Size;  // bytes of each sector of the run
    int Count; // 0 ends the list
};

const int MaxSectorRuns = 4;
const int MaxSectors = 32;

struct CChip
{
    const char* Name;
    unsigned char Manufacturer;
    unsigned char Device;
    // Whether it takes the unlock-bypass commands that the download programs with.
    bool TakesBypass;
    int Size;
    // From address 0 up, each run's sectors one after another.
    CSectorRun Sectors[MaxSectorRuns];
};

struct CSector
{
    int Index;
    int Start;
    int Size;
};

// The row with these codes; nullptr for a chip the table does not know.
const CChip* FindChip(unsigned char manufacturer, unsigned char device);
int SectorCount(const CChip& chip);
// Sector index of chip (0 from address 0); false past the last one.
bool SectorAt(const CChip& chip, int index, CSector& sector);
// The sector that holds address; false outside the chip.
bool SectorOf(const CChip& chip, int address, CSector& sector);
