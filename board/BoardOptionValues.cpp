#include "board/BoardOptionValues.h"

#include "board/BoardChips.h"
#include "board/FlashChip.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

static const uint64_t MaxFrame = 0xFFFFFFFFFFFFull;
static const uint64_t MaxSurplus = 1u << 20;

bool ParseNumberOption(const std::string& name, const std::string& text, uint64_t min, uint64_t max,
                       uint64_t& value, std::string& error)
{
    if (!ParseBoardNumber(text, max, value) || value < min)
    {
        error = name + ": '" + text + "' is not a number from " + std::to_string(min) + " to " +
                std::to_string(max);
        return false;
    }
    return true;
}

bool ParseSurplus(const std::string& text, CBoardOptions& options, std::string& error)
{
    const size_t colon = text.find(':');
    uint64_t frame = 0;
    uint64_t count = 0;
    if (colon == std::string::npos || !ParseBoardNumber(text.substr(0, colon), MaxFrame, frame) ||
        frame == 0 || !ParseBoardNumber(text.substr(colon + 1), MaxSurplus, count) || count == 0)
    {
        error = "--surplus: '" + text + "' is not FRAME:COUNT with both from 1 (COUNT at most " +
                std::to_string(MaxSurplus) + ")";
        return false;
    }
    options.Surplus[frame] += count;
    return true;
}

// MM:DD, two hexadecimal codes: the row that has them, or an unknown part that answers them.
bool ParseChipId(const std::string& text, CBoardOptions& options, std::string& error)
{
    const size_t colon = text.find(':');
    uint64_t manufacturer = 0;
    uint64_t device = 0;
    if (colon == std::string::npos || colon == 0 || colon > 2 || text.size() - colon - 1 > 2 ||
        text.find_first_not_of("0123456789abcdefABCDEF:") != std::string::npos ||
        !ParseBoardNumber("0x" + text.substr(0, colon), 0xFF, manufacturer) ||
        !ParseBoardNumber("0x" + text.substr(colon + 1), 0xFF, device))
    {
        error = "--chip-id: '" + text + "' is not MM:DD, two hexadecimal codes";
        return false;
    }
    const auto m = static_cast<uint8_t>(manufacturer);
    const auto d = static_cast<uint8_t>(device);
    const CBoardChip* row = FindBoardChip(m, d);
    options.Chip = row != nullptr ? *row : DefaultBoardChip();
    if (row == nullptr)
    {
        options.Chip.Name = "unknown part";
        options.Chip.Manufacturer = m;
        options.Chip.Device = d;
    }
    return true;
}

bool ParseChipName(const std::string& text, CBoardOptions& options, std::string& error)
{
    const CBoardChip* row = FindBoardChip(text);
    if (row == nullptr)
    {
        error = "--chip: '" + text + "' is none of " + BoardChipNames();
        return false;
    }
    options.Chip = *row;
    return true;
}

// N[,N...]: sector indexes, checked against the part once the whole line is read.
bool ParseProtect(const std::string& text, CBoardOptions& options, std::string& error)
{
    size_t begin = 0;
    while (begin <= text.size())
    {
        const size_t comma = std::min(text.find(',', begin), text.size());
        uint64_t sector = 0;
        if (!ParseBoardNumber(text.substr(begin, comma - begin), BoardMaxSectors - 1, sector))
        {
            error = "--protect: '" + text + "' is not a list of sector numbers such as 0,7";
            return false;
        }
        options.Protect.push_back(static_cast<int>(sector));
        begin = comma + 1;
    }
    return true;
}

bool CheckProtect(const CBoardOptions& options, std::string& error)
{
    const int count = BoardSectorCount(options.Chip);
    const auto past = std::find_if(options.Protect.begin(), options.Protect.end(),
                                   [count](int sector) { return sector >= count; });
    if (past != options.Protect.end())
    {
        error = "--protect: " + std::string(options.Chip.Name) + " has no sector " +
                std::to_string(*past) + " (0 to " + std::to_string(count - 1) + ")";
        return false;
    }
    return true;
}

// The chips of --chip, from the board's chip table.
std::string ChipRows()
{
    std::string rows = "\nchips:\n";
    for (int i = 0; i < BoardChipCount(); ++i)
    {
        const CBoardChip& chip = BoardChipAt(i);
        char codes[64];
        std::snprintf(codes, sizeof codes, "%02X:%02X, %d sectors%s", chip.Manufacturer,
                      chip.Device, BoardSectorCount(chip),
                      chip.TakesBypass ? ", unlock bypass" : "");
        rows += FormatHelpRow(chip.Name, codes);
    }
    return rows;
}
