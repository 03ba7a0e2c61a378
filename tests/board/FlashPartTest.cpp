// The flash model as the part its options make it: autoselect, sector erase, protection.
#include "board/BoardOptions.h"
#include "board/EmulatedBoard.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

using CCycles = std::vector<std::pair<uint32_t, uint8_t>>;
const CCycles Autoselect{{0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0x90}};
const CCycles ProgramAt1D123{{0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0xA0}, {0x1D123, 0x00}};
CCycles Erase(uint32_t address, uint8_t command)
{
    return {{0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0x80},
            {0x555, 0xAA}, {0x2AA, 0x55}, {address, command}};
}

// A flash of 0x5A made as the board's options say, the cycles written to it.
struct CPartFlash
{
    int64_t Now = 0;
    CFlashChip Flash{[this] { return Now; }, 100};

    CPartFlash(std::vector<const char*> options, const CCycles& cycles)
    {
        options.insert(options.begin(), "orbelt-board");
        CBoardOptions parsed;
        std::string error;
        EXPECT_TRUE(
            ParseBoardOptions(static_cast<int>(options.size()), options.data(), parsed, error))
            << error;
        ConfigureFlash(Flash, parsed);
        Flash.Load(std::vector<uint8_t>(FlashSize, 0x5A).data(), FlashSize);
        for (const auto& [address, data] : cycles)
        {
            Flash.Write(address, data);
        }
    }
};

} // namespace

TEST(FlashPart, AutoselectGivesCodesAndProtectionUntilF0)
{
    const std::vector<std::pair<std::vector<const char*>, CCycles>> cases{
        {{"--protect", "7"}, {{0, 0x01}, {1, 0x20}, {0x1C002, 0x01}, {0x18002, 0x00}}},
        {{"--chip", "Am29LV001BT", "--protect=9"}, {{1, 0xED}, {0x1E002, 1}, {0x1D002, 0}}},
        {{"--chip-id", "c2:9"}, {{0, 0xC2}, {1, 0x09}, {0x1C002, 0x00}}},
        {{"--no-chip"}, {{0, 0x5A}, {1, 0x5A}, {0x1C002, 0x5A}}},
    };
    for (const auto& [options, reads] : cases)
    {
        CPartFlash part(options, Autoselect);
        part.Flash.Write(0x1234, 0x00); // only the reset leaves autoselect
        for (const auto& [address, value] : reads)
        {
            EXPECT_EQ(part.Flash.Read(address), value) << options[0] << " " << address;
        }
        part.Flash.Write(0x1234, 0xF0);
        EXPECT_EQ(part.Flash.Read(0x1C002), 0x5A) << options[0];
    }
}

TEST(FlashPart, SectorEraseShowsStatusThenErasesOnlyItsSector)
{
    const std::vector<std::pair<const char*, std::pair<uint32_t, uint32_t>>> cases{
        {"Am29F010B", {0x4000, 0x7FFF}},
        {"Am29LV001BB", {0x2000, 0x2FFF}},
        {"Am29LV001BT", {0x1E000, 0x1FFFF}},
    };
    for (const auto& [chip, bounds] : cases)
    {
        CPartFlash part({"--chip", chip}, Erase(bounds.second, 0x30));
        const uint8_t status = part.Flash.Read(bounds.first);
        EXPECT_EQ(status & 0x88, 0x08) << chip;
        EXPECT_EQ((status ^ part.Flash.Read(0)) & 0x44, 0x44) << chip;
        part.Now = 100;
        for (uint32_t address = 0; address < FlashSize; ++address)
        {
            const bool inside = address >= bounds.first && address <= bounds.second;
            ASSERT_EQ(part.Flash.Read(address), inside ? 0xFF : 0x5A) << chip << " " << address;
        }
    }
}

TEST(FlashPart, ProtectedSectorsSurviveEveryWrite)
{
    for (const CCycles& cycles : {Erase(0x555, 0x10), Erase(0x1D000, 0x30), ProgramAt1D123})
    {
        CPartFlash part({"--chip", "Am29LV001BT", "--protect", "8"}, cycles);
        part.Now = 100;
        EXPECT_EQ(part.Flash.Read(0x1D123), 0x5A) << cycles.back().second;
        EXPECT_EQ(part.Flash.Read(0x1DFFF), 0x5A) << cycles.back().second;
    }
}

TEST(FlashPart, PartOptionsAreReadOrRefused)
{
    const std::vector<std::pair<std::vector<const char*>, std::string>> cases{
        {{"--chip", "Am29F010"}, "--chip: 'Am29F010' is none of Am29F010B,"},
        {{"--chip-id", "01"}, "--chip-id"},
        {{"--chip-id", "01:"}, "--chip-id"},
        {{"--chip-id", "01:20:"}, "--chip-id"},
        {{"--chip-id", "0x01:20"}, "--chip-id"},
        {{"--protect", "8"}, "--protect: Am29F010B has no sector 8 (0 to 7)"},
        {{"--protect", "1,,2"}, "--protect"},
        {{"--protect", "9", "--chip", "Am29LV001BB"}, ""},
        {{"--chip", "Am29LV001BB", "--chip-id", "01:20", "--protect", "9"}, "no sector 9"},
        {{"--no-chip=1"}, "--no-chip takes no value"},
    };
    for (const auto& [arguments, refusal] : cases)
    {
        std::vector<const char*> argv{"orbelt-board"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        CBoardOptions options;
        std::string error;
        EXPECT_EQ(ParseBoardOptions(static_cast<int>(argv.size()), argv.data(), options, error),
                  refusal.empty())
            << arguments[0] << " " << error;
        EXPECT_NE(error.find(refusal), std::string::npos) << error;
    }
}
