// Serial numbers in process: the whole front end (a single run and a station) against boards of
// the flash model, each board its own number from a counter file.
#include "app/CommandLine.h"
#include "app/Outcome.h"
#include "app/RunRecord.h"
#include "app/Station.h"
#include "image/Image.h"
#include "tests/unit/BoardPort.h"
#include "tests/unit/StationImage.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace
{

using CBytes = std::vector<uint8_t>;

const int Length = StationImageLength;

std::string ReadText(const fs::path& path)
{
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// The record file stays open for the rest of the process once opened: one for all its tests.
const fs::path Folder =
    fs::temp_directory_path() /
    ("orbelt-serial-" +
     std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));

class CFolder : public ::testing::Environment
{
  public:
    // Windows keeps the open record file: there it goes with the test's Wine prefix.
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(Folder, ignored);
    }
};

::testing::Environment* const TestFolder = ::testing::AddGlobalTestEnvironment(new CFolder);

class Serial : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        fs::create_directories(Folder);
        CBytes scrambled = Plain();
        ApplyImageKey(scrambled.data(), scrambled.size());
        std::ofstream(Folder / "fw.img", std::ios::binary)
            .write(reinterpret_cast<const char*>(scrambled.data()), Length);
        std::ofstream(Folder / "counter", std::ios::binary) << "1000\n";
        std::string error;
        ASSERT_TRUE(ConnectBoard(Quick, {}, error)) << error;
        ResetFakeClock();
        ResetFakeStop();
    }

    // orbelt-dl [--station] -p 7 --serial-file COUNTER --result FILE ARGUMENTS fw.img. Records
    // holds the lines it added; returns the result, or a station's exit status.
    int Run(std::vector<std::string> arguments, bool station = false)
    {
        const std::string records = (Folder / "records.jsonl").string();
        arguments.insert(arguments.begin(), {"orbelt-dl", "-p", "7", "--result", records,
                                             "--serial-file", (Folder / "counter").string()});
        arguments.push_back((Folder / "fw.img").string());
        if (station)
        {
            arguments.push_back("--station");
        }
        std::vector<char*> argv;
        for (std::string& argument : arguments)
        {
            argv.push_back(&argument[0]);
        }
        const size_t before = ReadText(records).size();
        CArguments walk;
        WalkArguments(static_cast<int>(argv.size()), argv.data(), walk);
        ::testing::internal::CaptureStdout();
        CBoardRun run;
        KeepNotesIn(&run.Notes);
        StartRunRecord(run);
        const int result =
            station ? RunStation(walk, run) : FinishRun(run, RunFromArguments(walk, run));
        KeepNotesIn(nullptr);
        Console = ::testing::internal::GetCapturedStdout();
        Records = ReadText(records).substr(before);
        return result;
    }

    std::string Console;
    std::string Records;
};

struct CFormatCase
{
    const char* Format;
    CBytes Field; // what the flash holds at 0x40 after taking 1000; empty: refused
};

class SerialFormats : public Serial, public ::testing::WithParamInterface<CFormatCase>
{
};

// Each format writes 1000 at 0x40 of the flash and nothing else differs from the file's image,
// verify included; one too small for it is refused with nothing sent and the file unchanged.
TEST_P(SerialFormats, WriteTheNumberIntoTheFlash)
{
    const CFormatCase& row = GetParam();
    const bool taken = !row.Field.empty();
    EXPECT_EQ(Run({"-v", "--serial-at", "0x40", "--serial-format", row.Format}), taken);
    EXPECT_EQ(ReadText(Folder / "counter"), taken ? "1001\nfirst 1000\n" : "1000\n");
    EXPECT_EQ(CBytes(ImageBuffer, ImageBuffer + Length), Plain()) << "the shared image stays";
    if (!taken)
    {
        EXPECT_TRUE(BytesSent().empty());
        EXPECT_NE(Records.find("\"failed_stage\":\"Serial\",\"reason\":\"serial number 1000 is "
                               "too large for its format dec3\""),
                  std::string::npos)
            << Records;
        return;
    }
    CBytes expected = Plain();
    std::copy(row.Field.begin(), row.Field.end(), expected.begin() + 0x40);
    EXPECT_EQ(CBytes(BoardFlash().begin(), BoardFlash().begin() + Length), expected);
    EXPECT_EQ(Console.rfind("Serial    1000\nErase", 0), 0u) << Console;
    EXPECT_NE(Records.find("\"serial\":1000,"), std::string::npos) << Records;
}

const CFormatCase FormatCases[] = {
    {"le32", {0xE8, 0x03, 0, 0}},
    {"be32", {0, 0, 0x03, 0xE8}},
    {"le16", {0xE8, 0x03}},
    {"be16", {0x03, 0xE8}},
    {"le64", {0xE8, 0x03, 0, 0, 0, 0, 0, 0}},
    {"be64", {0, 0, 0, 0, 0, 0, 0x03, 0xE8}},
    {"dec6", {'0', '0', '1', '0', '0', '0'}},
    {"dec3", {}},
};

INSTANTIATE_TEST_SUITE_P(Rows, SerialFormats, ::testing::ValuesIn(FormatCases),
                         [](const ::testing::TestParamInfo<CFormatCase>& info)
                         { return std::string(info.param.Format); });

// A board that holds a number this counter handed out keeps it, in a download, an update and
// -vo alike; a blank field, the image's own bytes or a number the counter never gave get the
// next number.
struct CKeepCase
{
    const char* Name;
    std::vector<std::string> Arguments;
    const char* Counter;
    int Held; // the number in the board's field, over the image; -1 the image's own bytes, -2 blank
    const char* Recorded;
    const char* CounterAfter;
    int FieldAfter; // the number in the field afterwards; -2 blank
};

const CKeepCase KeepCases[] = {
    {"Blank",
     {"-v"},
     "1004\nfirst 1000\n",
     -2,
     "\"serial\":1004,\"image\"",
     "1005\nfirst 1000\n",
     1004},
    {"ImageBytes",
     {"-v"},
     "1004\nfirst 1000\n",
     -1,
     "\"serial\":1004,\"image\"",
     "1005\nfirst 1000\n",
     1004},
    {"Given",
     {"-v"},
     "1004\nfirst 1000\n",
     1002,
     "\"serial\":1002,\"serial_kept\":true,",
     "1004\nfirst 1000\n",
     1002},
    {"BelowTheFirst",
     {"-v"},
     "1004\nfirst 1000\n",
     999,
     "\"serial\":1004,\"image\"",
     "1005\nfirst 1000\n",
     1004},
    {"NotYetGiven",
     {"-v"},
     "1004\nfirst 1000\n",
     1007,
     "\"serial\":1004,\"image\"",
     "1005\nfirst 1000\n",
     1004},
    {"NoFirstKnown",
     {"-v"},
     "1004\n",
     1002,
     "\"serial\":1004,\"image\"",
     "1005\nfirst 1004\n",
     1004},
    {"Update",
     {"--update"},
     "1004\nfirst 1000\n",
     1002,
     "\"serial\":1002,\"serial_kept\":true,",
     "1004\nfirst 1000\n",
     1002},
    {"VerifyOnly",
     {"-vo"},
     "1004\nfirst 1000\n",
     1002,
     "\"serial\":1002,\"image\"",
     "1004\nfirst 1000\n",
     1002},
    {"VerifyOnlyBlank",
     {"-vo"},
     "1004\nfirst 1000\n",
     -2,
     "\"device\":\"board\",\"image\"",
     "1004\nfirst 1000\n",
     -2},
};

class KeptNumbers : public Serial, public ::testing::WithParamInterface<CKeepCase>
{
};

TEST_P(KeptNumbers, StayWithTheirBoard)
{
    const CKeepCase& row = GetParam();
    auto field = [](CBytes& image, int number)
    {
        for (int i = 0; i < 4; ++i)
        {
            image[0x40 + i] = number == -2 ? 0xFF : static_cast<uint8_t>(number >> (8 * i));
        }
    };
    // As a download leaves it: the image's last block is whole, the key bytes after the image.
    CBytes board = Plain();
    for (int i = Length; i < 256; ++i)
    {
        board.push_back(ImageKey[i % ImageKeyLength]);
    }
    if (row.Held != -1)
    {
        field(board, row.Held);
    }
    std::string error;
    ASSERT_TRUE(ConnectBoard(Quick, board, error)) << error;
    std::ofstream(Folder / "counter", std::ios::binary) << row.Counter;
    std::vector<std::string> arguments = row.Arguments;
    arguments.insert(arguments.end(), {"--serial-at", "0x40", "--no-wait"});
    EXPECT_EQ(Run(arguments), 1) << Console;
    EXPECT_NE(Records.find(row.Recorded), std::string::npos) << Records;
    EXPECT_EQ(ReadText(Folder / "counter"), row.CounterAfter);
    CBytes expected = Plain();
    field(expected, row.FieldAfter);
    EXPECT_EQ(CBytes(BoardFlash().begin(), BoardFlash().begin() + Length), expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, KeptNumbers, ::testing::ValuesIn(KeepCases),
                         [](const ::testing::TestParamInfo<CKeepCase>& info)
                         { return std::string(info.param.Name); });

// Board 1 is numbered 1000, leaves, and comes back with its flash as it left: it is read, not
// flashed again, and waited for to go. Board 2 fails its verify with 1001 and comes back for a
// retry: it keeps its number. Board 3 gets the next.
TEST_F(Serial, AStationLeavesABoardThatComesBackAloneAndRetriesOneThatFailed)
{
    auto numbered = [](uint8_t low)
    {
        CBytes image = Plain();
        image[0x40] = low;
        image[0x41] = 0x03;
        image[0x42] = image[0x43] = 0;
        return image;
    };
    std::string error;
    TakeBoardOffAt(2000);
    ASSERT_TRUE(PutBoardOnAt(4000, Quick, numbered(0xE8), error)) << error;
    TakeBoardOffAt(6000);
    ASSERT_TRUE(PutBoardOnAt(8000, {"--erase-ms", "0", "--bad-read", "0x80"}, {}, error)) << error;
    TakeBoardOffAt(10000);
    ASSERT_TRUE(PutBoardOnAt(12000, Quick, numbered(0xE9), error)) << error;
    TakeBoardOffAt(14000);
    ASSERT_TRUE(PutBoardOnAt(16000, Quick, {}, error)) << error;
    TakeBoardOffAt(18000);
    RequestStopAt(20000, SIGINT);
    EXPECT_EQ(Run({"-v", "--serial-at", "64"}, true), 1);

    // Only the return to reading the array and the reads of the number field.
    EXPECT_EQ(FramesWith(1, 0x80), 4u) << "no erase or program for the board that came back";
    EXPECT_EQ(FramesWith(1, 0xC0), 0u);
    EXPECT_EQ(CBytes(BoardFlash(3).begin(), BoardFlash(3).begin() + Length), numbered(0xE9));
    EXPECT_EQ(CBytes(BoardFlash(4).begin(), BoardFlash(4).begin() + Length), numbered(0xEA));
    for (const char* shown :
         {"Board 2: board 1000 again: remove it (1 OK, 0 NG)",
          "Board 2: started with serial 1001 (1 OK, 0 NG)", "\nSerial    1001\nChip ",
          "Board 3: started with serial 1001 (1 OK, 1 NG)", "Board 4: remove board 3, serial 1001"})
    {
        EXPECT_NE(Console.find(shown), std::string::npos) << shown << "\n" << Console;
    }
    for (const char* recorded :
         {"\"board\":1,\"serial\":1000,\"image\"", "\"board\":2,\"serial\":1001,\"image\"",
          "\"failed_stage\":\"Verify\"", "\"board\":3,\"serial\":1001,\"serial_kept\":true,",
          "\"board\":4,\"serial\":1002,\"image\""})
    {
        EXPECT_NE(Records.find(recorded), std::string::npos) << recorded << "\n" << Records;
    }
    EXPECT_EQ(ReadText(Folder / "counter"), "1003\nfirst 1000\n");
}

} // namespace
