#pragma once

#include "board/BoardChips.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Everything the command line of orbelt-board sets, and the on command for a new board.
// Counts of frames are 1-based over all frames the host sent to that board; 0 means the
// option was not given.
class CBoardOptions
{
  public:
    std::string ImagePath;
    std::string DumpPath;
    std::string TracePath;
    std::string LinkPath;
    bool ExitOnClose = false;
    bool Help = false;
    uint32_t Baud = 0;
    int64_t LatencyMilliseconds = 0;
    int64_t EraseMilliseconds = 1500;
    uint8_t Ack = 0x00;
    // The flash part; --chip-id with codes of no row gives the default part's map under them.
    CBoardChip Chip = DefaultBoardChip();
    std::vector<int> Protect;
    bool NoChip = false;
    bool StopAfterGiven = false;
    uint64_t StopAfter = 0;
    uint64_t VanishAfter = 0;
    // -1: a vanished device does not come back, the board exits.
    int64_t ReturnAfterMilliseconds = -1;
    bool EraseNever = false;
    std::vector<uint32_t> BadCells;
    std::vector<uint32_t> BadReads;
    uint64_t ShortProgram = 0;
    // Frame number -> count of extra 0xEE bytes sent after its answer.
    std::map<uint64_t, uint64_t> Surplus;
};

// The --help text, its option rows made from the option table.
std::string BoardUsage();
// "  LABEL   help", the help's lines after the first indented to its column.
std::string FormatHelpRow(const std::string& label, const std::string& help);

// Reads argv[1..argc-1]. Options take their value as the next argument or after '='.
// On failure error says what was wrong, naming the option.
bool ParseBoardOptions(int argc, const char* const* argv, CBoardOptions& options,
                       std::string& error);

// The options of one board that the on command puts on the line, given as words; the options
// of the whole run are refused.
bool ParseOneBoardOptions(const std::vector<std::string>& words, CBoardOptions& options,
                          std::string& error);

// Decimal, or hexadecimal with a 0x prefix; the whole text must be a number within max.
bool ParseBoardNumber(const std::string& text, uint64_t max, uint64_t& value);
