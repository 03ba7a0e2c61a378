#include "target/Chips.h"

#include <algorithm>
#include <iterator>

namespace
{

const int KiB = 1024;

// Codes and sector maps from the parts' data sheets. All take unlock bypass.
const CChip ChipTable[] = {
    {"Am29F010B", 0x01, 0x20, true, 128 * KiB, {{16 * KiB, 8}}},
    {"Am29LV010B", 0x01, 0x6E, true, 128 * KiB, {{16 * KiB, 8}}},
    {"Am29LV001BB", 0x01, 0x6D, true, 128 * KiB, {{8 * KiB, 1}, {4 * KiB, 2}, {16 * KiB, 7}}},
    {"Am29LV001BT", 0x01, 0xED, true, 128 * KiB, {{16 * KiB, 7}, {4 * KiB, 2}, {8 * KiB, 1}}},
};

} // namespace

const CChip* FindChip(unsigned char manufacturer, unsigned char device)
{
    const CChip* found =
        std::find_if(std::begin(ChipTable), std::end(ChipTable),
                     [&](const CChip& chip)
                     { return chip.Manufacturer == manufacturer && chip.Device == device; });
    return found == std::end(ChipTable) ? nullptr : found;
}

int SectorCount(const CChip& chip)
{
    int count = 0;
    for (int run = 0; run < MaxSectorRuns && chip.Sectors[run].Count != 0; ++run)
    {
        count += chip.Sectors[run].Count;
    }
    return count;
}

bool SectorAt(const CChip& chip, int index, CSector& sector)
{
    int start = 0;
    int first = 0;
    for (int run = 0; run < MaxSectorRuns && chip.Sectors[run].Count != 0; ++run)
    {
        const CSectorRun& sectors = chip.Sectors[run];
        if (index >= first && index < first + sectors.Count)
        {
            sector = {index, start + (index - first) * sectors.Size, sectors.Size};
            return true;
        }
        start += sectors.Count * sectors.Size;
        first += sectors.Count;
    }
    return false;
}

bool SectorOf(const CChip& chip, int address, CSector& sector)
{
    for (int index = 0; address >= 0 && SectorAt(chip, index, sector); ++index)
    {
        if (address < sector.Start + sector.Size)
        {
            return true;
        }
    }
    return false;
}
