// The flash model as the part its options make it: autoselect, sector erase, protection.
#include "board/BoardOptions.h"
#include "board/EmulatedBoard.h"
#include "board/FlashChip.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

struct CPartFlash
{
    int64_t Now = 0;
    CFlashChip Flash{[this] { return Now; }, 100};

    explicit CPartFlash(std::vector<const char*> options)
    {
        options.insert(options.begin(), "orbelt-board");
        CBoardOptions parsed;
        std::string error;
        EXPECT_TRUE(
            ParseBoardOptions(static_cast<int>(options.size()), options.data(), parsed, error))
            << error;
        ConfigureFlash(Flash, parsed);
    }
    void Cycles(std::vector<std::pair<uint32_t, uint8_t>> cycles)
    {
        for (const auto& [address, data] : cycles)
        {
            Flash.Write(address, data);
        }
    }
    void Autoselect() { Cycles({{0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0x90}}); }
    void Program(uint32_t address)
    {
        Cycles({{0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0xA0}, {address, 0x00}});
    }
    void Erase(uint32_t address, uint8_t command)
    {
        Cycles({{0x555, 0xAA},
                {0x2AA, 0x55},
                {0x555, 0x80},
                {0x555, 0xAA},
                {0x2AA, 0x55},
                {address, command}});
    }
};

} // namespace

TEST(FlashPart, AutoselectGivesCodesAndProtectionUntilF0)
{
    struct SCase
    {
        std::vector<const char*> Options;
        uint8_t Manufacturer, Device;
        uint32_t ProtectedAt, FreeAt; // addresses in a protected and a free sector
    };
    const std::vector<SCase> cases{
        {{"--protect", "7"}, 0x01, 0x20, 0x1C000, 0x18000},
        {{"--chip", "Am29LV010B", "--protect=0,3"}, 0x01, 0x6E, 0xC000, 0x4000},
        {{"--chip", "Am29LV001BB", "--protect", "2"}, 0x01, 0x6D, 0x3000, 0x2000},
        {{"--chip", "Am29LV001BT", "--protect", "9"}, 0x01, 0xED, 0x1E000, 0x1D000},
        {{"--chip-id", "1:ed", "--protect", "8"}, 0x01, 0xED, 0x1D000, 0x1C000},
        {{"--chip-id", "c2:99", "--protect", "7"}, 0xC2, 0x99, 0x1C000, 0x18000},
    };
    for (const SCase& item : cases)
    {
        CPartFlash part(item.Options);
        part.Flash.Load(std::vector<uint8_t>(FlashSize, 0x5A).data(), FlashSize);
        part.Autoselect();
        part.Flash.Write(0x1234, 0x00); // ignored: only the reset leaves autoselect
        EXPECT_EQ(part.Flash.Read(0x00), item.Manufacturer) << item.Options[1];
        EXPECT_EQ(part.Flash.Read(0x01), item.Device) << item.Options[1];
        EXPECT_EQ(part.Flash.Read(item.ProtectedAt + 2), 0x01) << item.Options[1];
        EXPECT_EQ(part.Flash.Read(item.FreeAt + 2), 0x00) << item.Options[1];
        part.Flash.Write(0x1234, 0xF0);
        EXPECT_EQ(part.Flash.Read(0x00), 0x5A) << item.Options[1];
        EXPECT_EQ(part.Flash.Read(0x1234), 0x5A) << item.Options[1];
    }
}

TEST(FlashPart, NoChipIgnoresAutoselect)
{
    CPartFlash part({"--no-chip"});
    part.Autoselect();
    EXPECT_EQ(part.Flash.Read(0x00), 0xFF);
    part.Program(0x01);
    EXPECT_EQ(part.Flash.Read(0x01), 0x00) << "the array still works";
}

TEST(FlashPart, SectorEraseShowsStatusThenErasesOnlyItsSector)
{
    struct SCase
    {
        const char* Chip;
        uint32_t First, Last; // the sector's bounds
    };
    const std::vector<SCase> cases{
        {"Am29F010B", 0x4000, 0x7FFF},     {"Am29LV010B", 0x1C000, 0x1FFFF},
        {"Am29LV001BB", 0x2000, 0x2FFF},   {"Am29LV001BB", 0x0, 0x1FFF},
        {"Am29LV001BT", 0x1C000, 0x1CFFF}, {"Am29LV001BT", 0x1E000, 0x1FFFF},
    };
    for (const SCase& item : cases)
    {
        CPartFlash part({"--chip", item.Chip});
        part.Flash.Load(std::vector<uint8_t>(FlashSize, 0x00).data(), FlashSize);
        part.Erase(item.Last, 0x30);
        const uint8_t status = part.Flash.Read(item.First);
        EXPECT_EQ(status & 0x88, 0x08) << item.Chip;
        EXPECT_EQ((status ^ part.Flash.Read(item.First)) & 0x44, 0x44) << item.Chip;
        part.Now = 100;
        EXPECT_FALSE(part.Flash.Busy());
        EXPECT_EQ(part.Flash.Read(item.First), 0xFF) << item.Chip;
        EXPECT_EQ(part.Flash.Read(item.Last), 0xFF) << item.Chip;
        EXPECT_EQ(part.Flash.Read((item.First - 1) & FlashAddressMask), 0x00) << item.Chip;
        EXPECT_EQ(part.Flash.Read((item.Last + 1) & FlashAddressMask), 0x00) << item.Chip;
    }
}

TEST(FlashPart, ProtectedSectorsSurviveEveryWrite)
{
    const std::vector<void (*)(CPartFlash&)> writes{
        [](CPartFlash& part) { part.Erase(0x555, 0x10); },
        [](CPartFlash& part) { part.Erase(0x1D123, 0x30); },
        [](CPartFlash& part) { part.Program(0x1D123); },
    };
    for (const auto& write : writes)
    {
        CPartFlash part({"--chip", "Am29LV001BT", "--protect", "8"});
        part.Flash.Load(std::vector<uint8_t>(FlashSize, 0x5A).data(), FlashSize);
        write(part);
        part.Now = 100;
        EXPECT_EQ(part.Flash.Read(0x1D123), 0x5A);
        EXPECT_EQ(part.Flash.Read(0x1D000), 0x5A);
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
        {{"--chip-id", "100:20"}, "--chip-id"},
        {{"--protect", "8"}, "--protect: Am29F010B has no sector 8 (0 to 7)"},
        {{"--protect", "1,,2"}, "--protect"},
        {{"--protect", "1,"}, "--protect"},
        {{"--protect", "9", "--chip", "Am29LV001BB"}, ""},
        {{"--chip", "Am29LV001BB", "--chip-id", "01:20", "--protect", "9"}, "has no sector 9"},
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
