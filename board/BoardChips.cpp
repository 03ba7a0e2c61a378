#include "board/BoardChips.h"

#include <algorithm>
#include <iterator>

namespace
{

const uint32_t KiB = 1024;

const CBoardChip BoardChips[] = {
    {"Am29F010B", 0x01, 0x20, {{16 * KiB, 8}}, true},
    {"Am29LV010B", 0x01, 0x6E, {{16 * KiB, 8}}, true},
    {"Am29LV001BB", 0x01, 0x6D, {{8 * KiB, 1}, {4 * KiB, 2}, {16 * KiB, 7}}, true},
    {"Am29LV001BT", 0x01, 0xED, {{16 * KiB, 7}, {4 * KiB, 2}, {8 * KiB, 1}}, true},
};

template <typename Matches> const CBoardChip* FindRow(Matches matches)
{
    const CBoardChip* found = std::find_if(std::begin(BoardChips), std::end(BoardChips), matches);
    return found == std::end(BoardChips) ? nullptr : found;
}

} // namespace

const CBoardChip& DefaultBoardChip()
{
    return BoardChips[0];
}

int BoardChipCount()
{
    return static_cast<int>(std::size(BoardChips));
}

const CBoardChip& BoardChipAt(int index)
{
    return BoardChips[index];
}

const CBoardChip* FindBoardChip(const std::string& name)
{
    return FindRow([&](const CBoardChip& chip) { return name == chip.Name; });
}

const CBoardChip* FindBoardChip(uint8_t manufacturer, uint8_t device)
{
    return FindRow([&](const CBoardChip& chip)
                   { return chip.Manufacturer == manufacturer && chip.Device == device; });
}

std::string BoardChipNames()
{
    std::string names;
    for (const CBoardChip& chip : BoardChips)
    {
        names += (names.empty() ? "" : ", ") + std::string(chip.Name);
    }
    return names;
}

int BoardSectorCount(const CBoardChip& chip)
{
    int count = 0;
    for (int run = 0; run < BoardMaxRuns && chip.Runs[run].Count != 0; ++run)
    {
        count += chip.Runs[run].Count;
    }
    return count;
}

int BoardSectorOf(const CBoardChip& chip, uint32_t address, uint32_t& start, uint32_t& size)
{
    int index = 0;
    start = 0;
    for (int run = 0; run < BoardMaxRuns && chip.Runs[run].Count != 0; ++run)
    {
        size = chip.Runs[run].Size;
        for (int i = 0; i < chip.Runs[run].Count; ++i, ++index, start += size)
        {
            if (address < start + size)
            {
                return index;
            }
        }
    }
    return -1;
}
