// Identify and the guard in process, against the board's own flash model: the host's chip table
// and command rows meet the board's, written apart, so a wrong row on either side shows here.
#include "serial/ComPort.h"
#include "target/FlashCommands.h"
#include "target/Identify.h"
#include "target/TargetLink.h"
#include "tests/unit/BoardPort.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace
{

struct CIdentifyCase
{
    std::vector<std::string> Board;
    EChipOutcome Outcome;
    std::string Console;
};

const int FlashBytes = 0x20000;
using CBytes = std::vector<uint8_t>;

const std::vector<CIdentifyCase> Cases{
    {{"--protect", "0,2,4,6"},
     EChipOutcome::Known,
     "Am29F010B (manufacturer 0x01, device 0x20), 128 KiB, 8 sectors\n"
     "protected: sector 0 (0x00000-0x03FFF)\nprotected: sector 2 (0x08000-0x0BFFF)\n"
     "protected: sector 4 (0x10000-0x13FFF)\nprotected: sector 6 (0x18000-0x1BFFF)\n"},
    {{"--chip", "Am29LV010B"},
     EChipOutcome::Known,
     "Am29LV010B (manufacturer 0x01, device 0x6E), 128 KiB, 8 sectors\n"
     "no sector protected\n"},
    {{"--chip", "Am29LV001BB", "--protect", "1,3,9"},
     EChipOutcome::Known,
     "Am29LV001BB (manufacturer 0x01, device 0x6D), 128 KiB, 10 sectors\n"
     "protected: sector 1 (0x02000-0x02FFF)\nprotected: sector 3 (0x04000-0x07FFF)\n"
     "protected: sector 9 (0x1C000-0x1FFFF)\n"},
    {{"--chip", "Am29LV001BT", "--protect", "0,7,9"},
     EChipOutcome::Known,
     "Am29LV001BT (manufacturer 0x01, device 0xED), 128 KiB, 10 sectors\n"
     "protected: sector 0 (0x00000-0x03FFF)\nprotected: sector 7 (0x1C000-0x1CFFF)\n"
     "protected: sector 9 (0x1E000-0x1FFFF)\n"},
    {{"--chip-id", "01:99"},
     EChipOutcome::Unknown,
     "unknown chip (manufacturer 0x01, device 0x99)\n"},
    {{"--no-chip"}, EChipOutcome::NoChip, "no flash chip answered\n"},
    {{"--chip-id", "03:20"},
     EChipOutcome::NoChip,
     "no flash chip answered: the manufacturer code is no JEDEC code\n"},
    {{"--stop-after", "4"}, EChipOutcome::NoReply, "no reply from the board\n"},
    {{"--stop-after", "9"}, EChipOutcome::NoReply, "no reply from the board\n"},
    {{"--stop-after", "14"}, EChipOutcome::NoReply, "no reply from the board\n"},
};

class Identify : public ::testing::TestWithParam<CIdentifyCase>
{
};

TEST_P(Identify, TellsTheChipAndLeavesItReadingTheArray)
{
    const CIdentifyCase& row = GetParam();
    SCOPED_TRACE(row.Board.front() + " " + row.Board.back());
    const std::vector<uint8_t> flash(FlashBytes, 0x5A);
    std::string error;
    std::vector<std::string> options = row.Board;
    options.insert(options.end(), {"--erase-ms", "0"});
    ASSERT_TRUE(ConnectBoard(options, flash, error)) << error;
    ResetFakeClock();
    ASSERT_TRUE(TargetPort.Open("COM7:115200,e,8,1"));
    CChipIdentity identity;
    EXPECT_EQ(IdentifyChip(identity), row.Outcome == EChipOutcome::Known);
    EXPECT_EQ(identity.Outcome, row.Outcome);
    char console[ChipTextSize];
    FormatChipIdentity(identity, console);
    EXPECT_EQ(console, "Chip      " + row.Console);

    std::vector<uint8_t> lastCycle;
    for (size_t at = 0; at < BytesSent().size(); at += 5)
    {
        lastCycle =
            BytesSent()[at] == 0x80 ? CBytes(&BytesSent()[at], &BytesSent()[at + 5]) : lastCycle;
    }
    EXPECT_EQ(lastCycle, (CBytes{0x80, 0x55, 0x05, 0x00, 0xF0})) << "left with 0xF0";
    unsigned char value = 0;
    if (row.Outcome != EChipOutcome::NoReply)
    {
        ASSERT_TRUE(ReadTargetByte(0x1C002, value));
        EXPECT_EQ(value, 0x5A) << "the array, not autoselect";
    }
    if (identity.Chip != nullptr)
    {
        // The host's sector 1 by its own table: the board erases exactly it.
        CSector sector{};
        ASSERT_TRUE(SectorAt(*identity.Chip, 1, sector));
        ASSERT_TRUE(SectorOf(*identity.Chip, sector.Start + sector.Size - 1, sector));
        ASSERT_TRUE(SendSequence(SectorEraseUnlock));
        ASSERT_TRUE(WriteTargetCycle(sector.Start + sector.Size - 1, SectorEraseCommand));
        const bool erased = !IsSectorProtected(identity, 1);
        ASSERT_TRUE(ReadTargetByte(sector.Start, value));
        EXPECT_EQ(value, erased ? 0xFF : 0x5A);
        for (int address = 0; address < FlashBytes; ++address)
        {
            const bool inside = address >= sector.Start && address < sector.Start + sector.Size;
            ASSERT_EQ(BoardFlash()[address], inside && erased ? 0xFF : 0x5A) << address;
        }
    }
    TargetPort.Close();
}

INSTANTIATE_TEST_SUITE_P(Rows, Identify, ::testing::ValuesIn(Cases));

TEST(FlashGuard, RefusesWhatWouldFailLate)
{
    const CChip slow = {"Slow", 0x01, 0x21, false, 0x20000, {{0x10000, 2}}};
    const CChipIdentity known{EChipOutcome::Known, 1, 0xED, FindChip(1, 0xED), 1u << 8, nullptr};
    const CChipIdentity unknown{EChipOutcome::Unknown, 1, 0x99, nullptr, 0, "unknown chip"};
    const CChipIdentity noBypass{EChipOutcome::Known, 1, 0x21, &slow, 0, nullptr};
    const char* const sector8 = "sector 8 (0x1D000-0x1DFFF) is protected";
    const std::vector<std::tuple<CChipIdentity, int, int, const char*>> cases{
        {known, 0, 0x1D000, nullptr},
        {known, 0x1E000, 0x2000, nullptr},
        {known, 0x1CFFF, 2, sector8},
        {known, 0x1DFFF, 0x10, sector8},
        {known, 0, 0x20000, sector8},
        {unknown, 0, 16, "unknown chip"},
        {CChipIdentity(), 0, 16, "no reply from the board"},
        {noBypass, 0, 16, "Slow does not take the unlock-bypass commands"},
        {known, 0, 0x20001, "the image is larger than the Am29LV001BT's 128 KiB"},
    };
    for (const auto& [identity, start, length, refused] : cases)
    {
        CRefusal refusal{};
        EXPECT_STREQ(RefuseToFlash(identity, start, length, refusal), refused) << start;
    }
}

} // namespace
