// The update, a row a case: flash and image differ only where a row says. The plan alone must
// leave the chip holding the image and, past it, what it held; the whole update against the
// board's flash model must do the same with the frames the plan calls for, or stop where it must.
#include "base/Diagnostic.h"
#include "image/Image.h"
#include "target/Download.h"
#include "target/UpdatePlan.h"
#include "tests/unit/BoardPort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace
{

const int All = ImageCapacity;
const CChip Even = {"uniform", 0x01, 0x20, true, 0x20000, {{0x4000, 8}}};
const CChip Boot = {"boot", 0x01, 0x6D, true, 0x20000, {{0x2000, 1}, {0x1000, 2}, {0x4000, 7}}};
const std::vector<std::string> BootChip = {"--chip", "Am29LV001BB"};
using CBytes = std::vector<uint8_t>;

struct CUpdateRow
{
    const CChip& Chip;
    std::vector<std::string> Board; // orbelt-board's options
    int Length;
    std::vector<std::array<int, 3>> Changes; // address, flash byte, image byte
    const char* Actions; // a letter a sector: - untouched, k kept, p in place, e erased
    int Erased;
    int Programmed;    // the pattern has one 0xFF in 256 bytes, which is not programmed
    const char* Lines; // the console's stage labels
    const char* Failed = nullptr;
};

const std::array<int, 3> SetBit = {0x4010, 0x00, 0x01};
const char* const ReadOnly = "Read,";
const char* const Refused = ""; // the chip's lines and the reason, no stage
const char* const InPlace = "Read,Program,Verify,";
const char* const Erase1 = "Read,Erase 1 of 8,Program,Verify,";
const char* const Erase2 = "Read,Erase 2 of 8,Program,Verify,";
const char* const EraseBoot = "Read,Erase 1 of 10,Program,Verify,";
const char* const BadCell = "Read,Erase 1 of 8,Program,,"; // the Error marker's line has none

const CUpdateRow Rows[] = {
    {Even, {}, All, {}, "kkkkkkkk", 0, 0, ReadOnly},
    {Even, {}, All, {SetBit}, "kekkkkkk", 1, 16320, Erase1},
    {Even, {}, All, {{0x4010, 0xF3, 0x33}, {0x7FFF, 0xFF, 0}}, "kpkkkkkk", 0, 2, InPlace},
    {Even, {}, 0x5FF6, {{0x100, 0, 0x80}, {0x5000, 0x10, 0x11}}, "ee------", 2, 32640, Erase2},
    {Boot, BootChip, All, {{0x2010, 0x00, 0x01}}, "kekkkkkkkk", 1, 4080, EraseBoot},
    {Even, {}, 0x1C000, {{0x1B000, 0x00, 0xFF}}, "kkkkkke-", 1, 16319, Erase1},
    {Even, {"--protect", "1"}, All, {SetBit}, "kekkkkkk", 1, 16320, Refused, "Identify"},
    {Even, {"--bad-cell", "0x4020"}, All, {SetBit}, "kekkkkkk", 1, 16320, BadCell, "Program"},
    {Even, {"--no-chip"}, All, {SetBit}, "kekkkkkk", 1, 16320, Refused, "Identify"},
};

// The flash before and the image, from the pattern and the row's changes.
void Make(const CUpdateRow& row, CBytes& flash, CBytes& image)
{
    flash.resize(All);
    for (int i = 0; i < All; ++i)
    {
        flash[i] = static_cast<uint8_t>(i * 37 + 11);
    }
    image = flash;
    for (const auto& change : row.Changes)
    {
        flash[change[0]] = static_cast<uint8_t>(change[1]);
        image[change[0]] = static_cast<uint8_t>(change[2]);
    }
}

TEST(UpdatePlan, LeavesTheImageAndKeepsTheRest)
{
    static uint8_t program[All];
    for (const CUpdateRow& row : Rows)
    {
        SCOPED_TRACE(&row - Rows);
        CBytes flash;
        CBytes image;
        Make(row, flash, image);
        CUpdatePlan plan;
        ASSERT_TRUE(PlanUpdate(row.Chip, flash.data(), image.data(), row.Length, plan));
        // The runner reads the image's bytes, then those that the plan keeps.
        CBytes read(All, 0x5A);
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

// The stage labels of a console: each line that redraws, up to its first backspace (none on the
// Error marker's own line).
std::string Labels(const std::string& console)
{
    std::string labels;
    for (size_t at = 0, end = 0; at < console.size(); at = end + 1)
    {
        end = console.find('\n', at);
        const std::string line = console.substr(at, end - at);
        if (line.find('\b') != std::string::npos)
        {
            const std::string label = line.substr(0, line.find('\b'));
            labels += label.substr(0, label.find_last_not_of(' ') + 1) + ",";
        }
    }
    return labels;
}

TEST(Update, OnTheBoardSendsWhatThePlanSays)
{
    // The journal of each erase that loses bytes past the image, in a folder of the test's own.
    const std::string folder =
        (std::filesystem::temp_directory_path() / "orbelt-update-journals").string();
    JournalFolderOption = folder.c_str();
    for (const CUpdateRow& row : Rows)
    {
        SCOPED_TRACE(&row - Rows);
        CBytes flash;
        CBytes image;
        Make(row, flash, image);
        std::vector<std::string> options = row.Board;
        options.insert(options.end(), {"--erase-ms", "0"});
        std::string error;
        ASSERT_TRUE(ConnectBoard(options, flash, error)) << error;
        std::copy(image.begin(), image.end(), ImageBuffer);
        ImageLength = row.Length;
        PortNumber = 7;
        RunMode = &UpdateRun;
        CBoardRun run;
        KeepNotesIn(&run.Notes);
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(RunDownload(run), row.Failed == nullptr);
        EXPECT_EQ(Labels(::testing::internal::GetCapturedStdout()), row.Lines);
        const bool refused = row.Failed != nullptr && strcmp(row.Failed, "Identify") == 0;
        size_t sectorErases = 0;
        for (size_t at = 0; at < BytesSent().size(); at += 5)
        {
            sectorErases += BytesSent()[at] == 0x80 && BytesSent()[at + 4] == 0x30 ? 1 : 0;
        }
        EXPECT_EQ(sectorErases, refused ? 0 : row.Erased);
        EXPECT_EQ(run.SectorsErased, refused ? 0 : row.Erased);
        if (row.Failed == nullptr || refused)
        {
            std::copy(flash.begin() + row.Length, flash.end(), image.begin() + row.Length);
            EXPECT_TRUE(BoardFlash() == (refused ? flash : image));
            EXPECT_EQ(FramesWith(0, 0xC0), refused ? 0 : row.Programmed);
            EXPECT_EQ(run.BytesProgrammed, refused ? 0 : row.Programmed);
            EXPECT_EQ(run.UpToDate, row.Failed == nullptr && row.Erased + row.Programmed == 0);
        }
        EXPECT_STREQ(row.Failed != nullptr ? CurrentStage() : nullptr, row.Failed);
        KeepNotesIn(nullptr);
    }
    JournalFolderOption = nullptr;
    std::filesystem::remove_all(folder);
}

} // namespace
