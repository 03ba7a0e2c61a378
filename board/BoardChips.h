#pragma once

#include <cstdint>
#include <string>

// The parts the emulated board can carry. Written apart from the host's own table on purpose:
// a wrong row on either side then shows when the host is run against the board.
struct CBoardSectorRun
{
    uint32_t Size;
    int Count; // 0 ends the list
};

const int BoardMaxRuns = 4;
const int BoardMaxSectors = 32;

struct CBoardChip
{
    const char* Name;
    uint8_t Manufacturer;
    uint8_t Device;
    // From address 0 up; every part sums to the 128 KiB array.
    CBoardSectorRun Runs[BoardMaxRuns];
    bool TakesBypass;
};

// The Am29F010B that the board has always modelled.
const CBoardChip& DefaultBoardChip();
const CBoardChip* FindBoardChip(const std::string& name);
const CBoardChip* FindBoardChip(uint8_t manufacturer, uint8_t device);
int BoardChipCount();
const CBoardChip& BoardChipAt(int index);
// "Am29F010B, Am29LV010B, ..." for the error of --chip.
std::string BoardChipNames();

int BoardSectorCount(const CBoardChip& chip);
// The sector that holds address (already reduced to the array), with its first address.
int BoardSectorOf(const CBoardChip& chip, uint32_t address, uint32_t& start, uint32_t& size);
