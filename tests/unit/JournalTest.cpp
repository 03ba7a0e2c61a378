// An update's journal: the rule that tells its board from any other, as a table of what a board
// can hold at each point where an update is cut short; then updates cut short on the board's
// flash model, whose kept bytes must be back after the stop, or after the next update.
#include "base/Diagnostic.h"
#include "base/Stop.h"
#include "image/Image.h"
#include "target/Download.h"
#include "target/UpdateJournal.h"
#include "tests/unit/BoardPort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace
{

using CBytes = std::vector<uint8_t>;
// Sector 0 kept, sector 1 erased for the image's last 4 KiB and programmed with them, then with
// its 12 KiB of calibration past the image.
const int ImageEnd = 0x5000;
const int SectorEnd = 0x8000;

CBytes Pattern(int seed)
{
    CBytes bytes(ImageCapacity, 0xFF);
    for (int i = 0; i < SectorEnd; ++i)
    {
        bytes[i] = static_cast<uint8_t>(i * seed + 11);
    }
    return bytes;
}

// The board before the update, and the image: one bit set in sector 1.
const CBytes BoardBefore = Pattern(37);
CBytes NewImage()
{
    CBytes image(BoardBefore.begin(), BoardBefore.begin() + ImageEnd);
    image[0x4321] = static_cast<uint8_t>(BoardBefore[0x4321] | 0x80 | 0x01);
    return image;
}

CUpdateJournal& MakeJournal()
{
    static CUpdateJournal journal;
    journal.Manufacturer = 0x01;
    journal.Device = 0x20;
    journal.Port = 3;
    journal.SectorCount = 2;
    journal.Sectors[0] = {JournalKept, 0, 0x4000};
    journal.Sectors[1] = {JournalErased, 0x4000, SectorEnd};
    journal.KeepStart = ImageEnd;
    journal.KeepEnd = SectorEnd;
    std::copy(BoardBefore.begin(), BoardBefore.end(), journal.Before);
    std::copy(BoardBefore.begin(), BoardBefore.end(), journal.After);
    const CBytes image = NewImage();
    std::copy(image.begin(), image.end(), journal.After);
    return journal;
}

// The board as an update cut short at some point left it: sector 1 erased, and programmed with
// the new bytes up to programmedTo.
CBytes CutAt(int programmedTo, const CBytes& board = BoardBefore)
{
    const CUpdateJournal& journal = MakeJournal();
    CBytes bytes = board;
    std::fill(bytes.begin() + 0x4000, bytes.begin() + SectorEnd, 0xFF);
    std::copy(journal.After + 0x4000, journal.After + programmedTo, bytes.begin() + 0x4000);
    return bytes;
}

struct CFitRow
{
    const char* Name;
    CBytes Board;
    unsigned char Device;
    EJournalFit Fit;
};

TEST(UpdateJournal, KnowsItsBoardAtEveryPointAndNoOther)
{
    CBytes another = Pattern(37);
    std::fill(another.begin() + ImageEnd, another.begin() + SectorEnd, 0x5A);
    CBytes blankCalibration = BoardBefore;
    std::fill(blankCalibration.begin() + ImageEnd, blankCalibration.begin() + SectorEnd, 0xFF);
    CBytes otherFirmware = CutAt(0x4000);
    otherFirmware[0x100] ^= 0x10;
    CBytes done = CutAt(SectorEnd);
    const CFitRow rows[] = {
        {"not yet erased", BoardBefore, 0x20, JournalNothingLost},
        {"erased", CutAt(0x4000), 0x20, JournalToRestore},
        {"image half programmed", CutAt(0x4800), 0x20, JournalToRestore},
        {"kept bytes half programmed", CutAt(0x6000), 0x20, JournalToRestore},
        {"updated, or repaired", done, 0x20, JournalNothingLost},
        {"another board's calibration", another, 0x20, JournalOtherBoard},
        {"another board, never calibrated", blankCalibration, 0x20, JournalOtherBoard},
        {"another firmware beside an erased sector", otherFirmware, 0x20, JournalOtherBoard},
        {"another chip", CutAt(0x4000), 0x6E, JournalOtherBoard},
    };
    for (const CFitRow& row : rows)
    {
        EXPECT_EQ(FitJournal(MakeJournal(), 0x01, row.Device, row.Board.data()), row.Fit)
            << row.Name;
    }
    // Its file holds it whole; one byte changed or cut off, and it is none.
    static unsigned char text[JournalTextCapacity];
    static CUpdateJournal back;
    const size_t length = FormatJournal(MakeJournal(), text, sizeof text);
    ASSERT_GT(length, 2u * SectorEnd);
    ASSERT_TRUE(ParseJournal(text, length, back));
    EXPECT_EQ(FitJournal(back, 0x01, 0x20, CutAt(0x4800).data()), JournalToRestore);
    EXPECT_TRUE(std::equal(back.Before, back.Before + SectorEnd, BoardBefore.begin()));
    EXPECT_FALSE(ParseJournal(text, length - 1, back));
    text[length / 2] ^= 1;
    EXPECT_FALSE(ParseJournal(text, length, back));
}

// Updates cut short by a stop, a failure, a board that stops answering or an adapter pulled:
// afterwards (at the latest after the next update) the board holds the image and its own bytes
// past it, and no journal is left.
struct CCutRow
{
    const char* Name;
    std::vector<std::string> Board;
    uint8_t Command; // the frame at which the cut comes: its command, its data (0 for any)
    uint8_t Data;
    int Nth;
    int Signal;        // a stop request; 0: the board goes instead
    bool Unplugged;    // the adapter goes; otherwise the board only stops answering
    int JournalsLeft;  // after the run cut short
    const char* Stage; // the stage its record names
};

void PrintTo(const CCutRow& row, std::ostream* out)
{
    *out << row.Name;
}

const CCutRow CutRows[] = {
    {"StopDuringTheErase", {}, 0x80, 0x30, 1, SIGINT, false, 0, "Erase"},
    {"StopWhileProgramming", {}, 0xC0, 0, 600, SIGTERM, false, 0, "Program"},
    {"ProgramError", {"--bad-cell", "0x4400"}, 0, 0, 0, 0, false, 0, "Program"},
    {"BoardStopsAnswering", {}, 0xC0, 0, 600, 0, false, 1, "Program"},
    {"AdapterPulled", {}, 0xC0, 0, 600, 0, true, 1, "Program"},
};

class CutUpdate : public ::testing::TestWithParam<CCutRow>
{
  protected:
    void SetUp() override
    {
        Folder = fs::temp_directory_path() / ("orbelt-journal-" + std::string(GetParam().Name));
        fs::remove_all(Folder);
        FolderText = Folder.string();
        JournalFolderOption = FolderText.c_str();
        const CBytes image = NewImage();
        std::copy(image.begin(), image.end(), ImageBuffer);
        ImageLength = ImageEnd;
        PortNumber = 7;
        RunMode = &UpdateRun;
    }

    void TearDown() override
    {
        JournalFolderOption = nullptr;
        fs::remove_all(Folder);
    }

    bool Update(CBoardRun& run, std::string& console)
    {
        KeepNotesIn(&run.Notes);
        ::testing::internal::CaptureStdout();
        const bool updated = RunDownload(run);
        console = ::testing::internal::GetCapturedStdout();
        KeepNotesIn(nullptr);
        return updated;
    }

    size_t Journals() const
    {
        return fs::exists(Folder) ? static_cast<size_t>(std::count_if(
                                        fs::directory_iterator(Folder), fs::directory_iterator(),
                                        [](const fs::directory_entry& entry)
                                        { return entry.path().extension() == ".journal"; }))
                                  : 0;
    }

    fs::path Folder;
    std::string FolderText;
};

TEST_P(CutUpdate, LosesNoByteOfTheBoard)
{
    const CCutRow& row = GetParam();
    std::vector<std::string> options = row.Board;
    options.insert(options.end(), {"--erase-ms", "1000"});
    std::string error;
    ASSERT_TRUE(ConnectBoard(options, BoardBefore, error)) << error;
    ResetFakeClock();
    ResetFakeStop();
    if (row.Nth > 0)
    {
        const uint8_t command = row.Command;
        const uint8_t data = row.Data;
        AtFrame([command, data](const uint8_t* frame)
                { return frame[0] == command && (data == 0 || frame[4] == data); },
                row.Nth,
                [&row]
                {
                    if (row.Signal != 0)
                    {
                        RequestFakeStop(row.Signal);
                    }
                    else if (row.Unplugged)
                    {
                        UnplugPort();
                    }
                    else
                    {
                        TakeBoardOffAt(0);
                    }
                });
    }
    CBoardRun cut;
    std::string console;
    EXPECT_FALSE(Update(cut, console));
    EXPECT_STREQ(cut.Notes.Stage, row.Stage);
    EXPECT_EQ(Journals(), static_cast<size_t>(row.JournalsLeft));
    CBytes expected = BoardBefore;
    const CBytes image = NewImage();
    std::copy(image.begin(), image.end(), expected.begin());
    const int kept = static_cast<int>(std::count_if(BoardBefore.begin() + ImageEnd,
                                                    BoardBefore.begin() + SectorEnd,
                                                    [](uint8_t value) { return value != 0xFF; }));
    if (row.JournalsLeft == 0)
    {
        EXPECT_NE(console.find("Restore             \b\b\b\b\b  0 %"), std::string::npos)
            << console;
        EXPECT_TRUE(std::equal(BoardBefore.begin() + ImageEnd, BoardBefore.begin() + SectorEnd,
                               BoardFlash().begin() + ImageEnd));
        EXPECT_EQ(cut.RestoredBytes, kept);
        ResetFakeStop();
        return;
    }
    // The next update of the board, on a port that works: its bytes back, then the image.
    const CBytes left(BoardFlash().begin(), BoardFlash().end());
    ASSERT_TRUE(ConnectBoard({"--erase-ms", "0"}, left, error)) << error;
    CBoardRun next;
    EXPECT_TRUE(Update(next, console)) << next.Notes.Reason;
    EXPECT_NE(console.find("Restore"), std::string::npos) << console;
    EXPECT_EQ(next.RestoredBytes, kept);
    EXPECT_TRUE(BoardFlash() == expected);
    EXPECT_EQ(Journals(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Rows, CutUpdate, ::testing::ValuesIn(CutRows),
                         [](const ::testing::TestParamInfo<CCutRow>& info)
                         { return std::string(info.param.Name); });

} // namespace

namespace
{

// A journal that cannot be kept refuses the update before its first erase.
TEST(UpdateJournal, ThatCannotBeKeptStopsTheUpdateBeforeTheErase)
{
    const fs::path blocker = fs::temp_directory_path() / "orbelt-journal-blocker";
    fs::remove_all(blocker);
    {
        std::ofstream(blocker.string()) << "a file, not a folder";
    }
    const std::string folder = (blocker / "journals").string();
    JournalFolderOption = folder.c_str();
    const CBytes image = NewImage();
    std::copy(image.begin(), image.end(), ImageBuffer);
    ImageLength = ImageEnd;
    RunMode = &UpdateRun;
    std::string error;
    ASSERT_TRUE(ConnectBoard({"--erase-ms", "0"}, BoardBefore, error)) << error;
    CBoardRun run;
    KeepNotesIn(&run.Notes);
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(RunDownload(run));
    ::testing::internal::GetCapturedStdout();
    KeepNotesIn(nullptr);
    JournalFolderOption = nullptr;
    fs::remove_all(blocker);
    EXPECT_EQ(std::string(run.Notes.Reason).rfind("cannot keep the update's journal in", 0), 0u)
        << run.Notes.Reason;
    EXPECT_TRUE(BoardFlash() == BoardBefore);
    for (size_t at = 0; at < BytesSent().size(); at += 5)
    {
        EXPECT_FALSE(BytesSent()[at] == 0x80 && BytesSent()[at + 4] == 0x30) << "an erase";
    }
}

} // namespace
