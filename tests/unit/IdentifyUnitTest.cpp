// Identify and the guard in process, against the board's own flash model: the host's chip table
// and command rows meet the board's, written apart, so a wrong row on either side shows here.
#include "serial/ComPort.h"
#include "target/FlashCommands.h"
#include "target/Identify.h"
#include "target/TargetLink.h"
#include "tests/unit/BoardPort.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

struct CIdentifyCase
{
    std::vector<std::string> Board;
    EChipOutcome Outcome;
    std::string Console;
};

const char* const Chip = "Chip      ";
const int FlashBytes = 0x20000;

const std::vector<CIdentifyCase> Cases{
    {{"--protect", "0,2,4,6"},
     EChipOutcome::Known,
     std::string(Chip) + "Am29F010B (manufacturer 0x01, device 0x20), 128 KiB, 8 sectors\n" +
         "protected: sector 0 (0x00000-0x03FFF)\nprotected: sector 2 (0x08000-0x0BFFF)\n"
         "protected: sector 4 (0x10000-0x13FFF)\nprotected: sector 6 (0x18000-0x1BFFF)\n"},
    {{"--chip", "Am29LV010B"},
     EChipOutcome::Known,
     std::string(Chip) + "Am29LV010B (manufacturer 0x01, device 0x6E), 128 KiB, 8 sectors\n" +
         "no sector protected\n"},
    {{"--chip", "Am29LV001BB", "--protect", "1,3,9"},
     EChipOutcome::Known,
     std::string(Chip) + "Am29LV001BB (manufacturer 0x01, device 0x6D), 128 KiB, 10 sectors\n" +
         "protected: sector 1 (0x02000-0x02FFF)\nprotected: sector 3 (0x04000-0x07FFF)\n"
         "protected: sector 9 (0x1C000-0x1FFFF)\n"},
    {{"--chip", "Am29LV001BT", "--protect", "0,7,9"},
     EChipOutcome::Known,
     std::string(Chip) + "Am29LV001BT (manufacturer 0x01, device 0xED), 128 KiB, 10 sectors\n" +
         "protected: sector 0 (0x00000-0x03FFF)\nprotected: sector 7 (0x1C000-0x1CFFF)\n"
         "protected: sector 9 (0x1E000-0x1FFFF)\n"},
    {{"--chip-id", "01:99"},
     EChipOutcome::Unknown,
     std::string(Chip) + "unknown chip (manufacturer 0x01, device 0x99)\n"},
    {{"--no-chip"}, EChipOutcome::NoChip, std::string(Chip) + "no flash chip answered\n"},
    {{"--chip-id", "03:20"},
     EChipOutcome::NoChip,
     std::string(Chip) + "no flash chip answered: the manufacturer code is no JEDEC code\n"},
    {{"--chip-id", "FF:20"},
     EChipOutcome::NoChip,
     std::string(Chip) + "no flash chip answered: the manufacturer code is no JEDEC code\n"},
    {{"--stop-after", "0"}, EChipOutcome::NoReply, std::string(Chip) + "no reply from the board\n"},
    {{"--stop-after", "4"}, EChipOutcome::NoReply, std::string(Chip) + "no reply from the board\n"},
    {{"--stop-after", "9"}, EChipOutcome::NoReply, std::string(Chip) + "no reply from the board\n"},
    {{"--stop-after", "14"},
     EChipOutcome::NoReply,
     std::string(Chip) + "no reply from the board\n"},
};

void PrintTo(const CIdentifyCase& row, std::ostream* out)
{
    for (const std::string& word : row.Board)
    {
        *out << word << " ";
    }
}

class Identify : public ::testing::TestWithParam<CIdentifyCase>
{
};

TEST_P(Identify, TellsTheChipAndLeavesItReadingTheArray)
{
    const CIdentifyCase& row = GetParam();
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
    EXPECT_EQ(console, row.Console);

    std::vector<uint8_t> lastCycle;
    for (size_t frame = 0; frame < BytesSent().size(); frame += 5)
    {
        if (BytesSent()[frame] == 0x80)
        {
            lastCycle.assign(BytesSent().begin() + frame, BytesSent().begin() + frame + 5);
        }
    }
    EXPECT_EQ(lastCycle, (std::vector<uint8_t>{0x80, 0x55, 0x05, 0x00, 0xF0})) << "left with 0xF0";
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
    const CChip noBypass = {"Slow", 0x01, 0x21, 0x20000, {{0x10000, 2}}, false};
    CChipIdentity known;
    known.Outcome = EChipOutcome::Known;
    known.Chip = FindChip(0x01, 0xED);
    known.Reason = nullptr;
    known.ProtectedSectors = 1u << 8;
    CChipIdentity unknown = known;
    unknown.Outcome = EChipOutcome::Unknown;
    unknown.Reason = "unknown chip";
    CChipIdentity slow = known;
    slow.Chip = &noBypass;
    const struct
    {
        const CChipIdentity& Identity;
        int Start, Length;
        const char* Refusal;
    } cases[] = {
        {known, 0, 0x1D000, nullptr},
        {known, 0x1E000, 0x2000, nullptr},
        {known, 0x1CFFF, 2, "sector 8 (0x1D000-0x1DFFF) is protected"},
        {known, 0x1DFFF, 0x10, "sector 8 (0x1D000-0x1DFFF) is protected"},
        {known, 0, 0x20000, "sector 8 (0x1D000-0x1DFFF) is protected"},
        {unknown, 0, 16, "unknown chip"},
        {CChipIdentity(), 0, 16, "no reply from the board"},
        {slow, 0, 16, "Slow does not take the unlock-bypass commands"},
    };
    for (const auto& row : cases)
    {
        CRefusal refusal{};
        const char* reason = RefuseToFlash(row.Identity, row.Start, row.Length, refusal);
        EXPECT_STREQ(reason, row.Refusal) << row.Start << "+" << row.Length;
    }
}

} // namespace
