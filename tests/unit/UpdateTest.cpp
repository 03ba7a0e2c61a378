// The update plan, a row a case: flash and image differ only where a row says, and what the plan
// does must leave the chip holding the image and, past it, what it held.
#include "image/Image.h"
#include "target/UpdatePlan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace
{

const int All = ImageCapacity;
const CChip Even = {"uniform", 0x01, 0x20, true, 0x20000, {{0x4000, 8}}};
const CChip Boot = {"boot", 0x01, 0x6D, true, 0x20000, {{0x2000, 1}, {0x1000, 2}, {0x4000, 7}}};

struct CUpdateRow
{
    const CChip& Chip;
    int Length;
    std::vector<std::array<int, 3>> Changes; // address, flash byte, image byte
    const char* Actions; // a letter a sector: - untouched, k kept, p in place, e erased
    int Erased;
    int Programmed; // the pattern has one 0xFF in 256 bytes, which is not programmed
};

const CUpdateRow Rows[] = {
    {Even, All, {}, "kkkkkkkk", 0, 0},
    {Even, All, {{0x4010, 0x00, 0x01}}, "kekkkkkk", 1, 16320},
    {Even, All, {{0x4010, 0xF3, 0x33}, {0x7FFF, 0xFF, 0}}, "kpkkkkkk", 0, 2},
    {Even, 0x5FF6, {{0x100, 0, 0x80}, {0x5000, 0x10, 0x11}}, "ee------", 2, 32640},
    {Boot, All, {{0x2010, 0x00, 0x01}}, "kekkkkkkkk", 1, 4080},
    {Even, 0x1C000, {{0x1B000, 0x00, 0xFF}}, "kkkkkke-", 1, 16319},
};

TEST(UpdatePlan, LeavesTheImageAndKeepsTheRest)
{
    static uint8_t program[All];
    for (const CUpdateRow& row : Rows)
    {
        SCOPED_TRACE(row.Actions);
        std::vector<uint8_t> flash(All);
        std::vector<uint8_t> read(All, 0x5A);
        for (int i = 0; i < All; ++i)
        {
            flash[i] = static_cast<uint8_t>(i * 37 + 11);
        }
        std::vector<uint8_t> image = flash;
        for (const auto& change : row.Changes)
        {
            flash[change[0]] = static_cast<uint8_t>(change[1]);
            image[change[0]] = static_cast<uint8_t>(change[2]);
        }
        CUpdatePlan plan;
        ASSERT_TRUE(PlanUpdate(row.Chip, flash.data(), image.data(), row.Length, plan));
        // The runner reads the image's bytes, then those that the plan keeps.
        std::copy_n(flash.begin(), row.Length, read.begin());
        std::copy_n(flash.begin() + plan.KeepStart, plan.KeepEnd - plan.KeepStart,
                    read.begin() + plan.KeepStart);
        FillProgram(plan, read.data(), image.data(), row.Length, program);
        std::copy(flash.begin() + row.Length, flash.end(), image.begin() + row.Length);
        std::string actions;
        for (int s = 0; s < plan.SectorCount; ++s)
        {
            const CSectorPlan& sector = plan.Sectors[s];
            actions += "-kpe"[sector.Action];
            std::fill(flash.begin() + sector.Start,
                      flash.begin() + (sector.Action == SectorErased ? sector.End : sector.Start),
                      0xFF);
        }
        for (int i = 0; i < All; ++i)
        {
            flash[i] &= program[i]; // programming only clears bits
        }
        EXPECT_EQ(actions, row.Actions);
        EXPECT_EQ(plan.SectorsErased, row.Erased);
        EXPECT_EQ(plan.BytesProgrammed, row.Programmed);
        EXPECT_EQ(std::mismatch(flash.begin(), flash.end(), image.begin()).first - flash.begin(),
                  All);
    }
}

} // namespace
