// Station mode in process: the whole loop of RunStation, against boards of the flash model that
// the test puts on and takes off at fake times.
#include "app/CommandLine.h"
#include "app/Station.h"
#include "base/Diagnostic.h"
#include "image/Image.h"
#include "target/Station.h"
#include "tests/unit/BoardPort.h"
#include "tests/unit/StationImage.h"

#include <gtest/gtest.h>

#include <regex>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
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

// What a terminal shows of the console: carriage returns and backspaces applied, trailing
// spaces dropped.
std::vector<std::string> Screen(const std::string& console)
{
    std::vector<std::string> lines(1);
    size_t column = 0;
    for (char c : console)
    {
        std::string& line = lines.back();
        if (c == '\n')
        {
            lines.emplace_back();
            column = 0;
        }
        else if (c == '\r' || c == '\b')
        {
            column = c == '\r' ? 0 : column - (column > 0 ? 1 : 0);
        }
        else
        {
            line.resize(std::max(line.size(), column + 1), ' ');
            line[column++] = c;
        }
    }
    for (std::string& line : lines)
    {
        line.erase(line.find_last_not_of(' ') + 1);
    }
    return lines;
}

// Every state the status line was drawn with, in order.
std::vector<std::string> Statuses(const std::string& console)
{
    std::vector<std::string> statuses;
    std::string text;
    for (char c : console + "\n")
    {
        if (c == '\r' || c == '\n')
        {
            text.erase(text.find_last_not_of(' ') + 1);
            if (text.rfind("Board ", 0) == 0)
            {
                statuses.push_back(text);
            }
            text.clear();
        }
        else
        {
            text += c;
        }
    }
    return statuses;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
    {
        lines.push_back(line);
    }
    return lines;
}

// The banner follows two blank lines.
std::vector<std::string> ReadLines(const std::string& path)
{
    std::ifstream in(path);
    return Lines(std::string(std::istreambuf_iterator<char>(in), {}));
}

const std::vector<std::string> OkScreen = {
    "",
    "",
    "           OOOOOO       K    K",
    "           O    O       K   K",
    "           O    O       K  K",
    "           O    O       KKK",
    "           O    O       K  K",
    "           O    O       K   K",
    "           OOOOOO       K    K",
    "",
    "Firmware upgraded",
    "",
};

const std::vector<std::string> NgScreen = {
    "",
    "",
    "           N    N       GGGGGGG",
    "           NN   N       G     G",
    "           N N  N       G",
    "           N  N N       G  GGGG",
    "           N   NN       G     G",
    "           N   NN       G     G",
    "           N    N       GGGGGGG",
    "",
    "Error encountered",
    "",
};

std::vector<std::string> operator+(std::vector<std::string> left,
                                   const std::vector<std::string>& right)
{
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

// The record file, once opened, stays open for the rest of the process: one for all its tests,
// of a name of its own, as test processes run side by side.
class CRecordFile : public ::testing::Environment
{
  public:
    // Also the start of the names of the tests' folders.
    static const std::string& Stamp()
    {
        static const std::string stamp =
            "orbelt-station-" +
            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
        return stamp;
    }
    static const std::string& Path()
    {
        static const std::string path = (fs::temp_directory_path() / (Stamp() + ".jsonl")).string();
        return path;
    }
    // Windows keeps the open file: there it goes with the test's Wine prefix.
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove(Path(), ignored);
    }
};

::testing::Environment* const RecordFile = ::testing::AddGlobalTestEnvironment(new CRecordFile);

class Station : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = test->name();
        std::replace(name.begin(), name.end(), '/', '-');
        Folder = fs::temp_directory_path() / (CRecordFile::Stamp() + "-" + name);
        fs::remove_all(Folder);
        fs::create_directories(Folder);
        CBytes scrambled = Plain();
        ApplyImageKey(scrambled.data(), scrambled.size());
        std::ofstream((Folder / "fw.img").string(), std::ios::binary)
            .write(reinterpret_cast<const char*>(scrambled.data()),
                   static_cast<std::streamsize>(scrambled.size()));
        std::string error;
        ASSERT_TRUE(ConnectBoard(Quick, {}, error)) << error;
        ResetFakeClock();
        ResetFakeStop();
        NoteReason("");
    }
    void TearDown() override { fs::remove_all(Folder); }

    // Runs orbelt-dl --station ARGUMENTS -p 7 --result FILE fw.img on the line as scheduled;
    // Records holds the lines this run added to FILE.
    int Run(std::vector<std::string> arguments, std::string records = CRecordFile::Path())
    {
        const std::string image = (Folder / "fw.img").string();
        arguments.insert(arguments.begin(), {"orbelt-dl", "--station"});
        arguments.insert(arguments.end(), {"-p", "7", "--result", records, image});
        std::vector<char*> argv;
        for (std::string& argument : arguments)
        {
            argv.push_back(&argument[0]);
        }
        // A device such as /dev/full has no lines to read back.
        const bool file = !fs::exists(records) || fs::is_regular_file(records);
        const size_t before = file ? ReadLines(records).size() : 0;
        CArguments walk;
        WalkArguments(static_cast<int>(argv.size()), argv.data(), walk);
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        CBoardRun setup;
        KeepNotesIn(&setup.Notes);
        const int status = RunStation(walk, setup);
        KeepNotesIn(nullptr);
        Diagnostics = ::testing::internal::GetCapturedStderr();
        Console = ::testing::internal::GetCapturedStdout();
        Records = file ? ReadLines(records) : std::vector<std::string>();
        Records.erase(Records.begin(), Records.begin() + static_cast<std::ptrdiff_t>(before));
        return status;
    }

    void PutOnAt(long long atMs, std::vector<std::string> options = Quick)
    {
        std::string error;
        ASSERT_TRUE(PutBoardOnAt(atMs, options, {}, error)) << error;
    }

    fs::path Folder;
    std::string Console;
    std::string Diagnostics;
    std::vector<std::string> Records;
};

// Three boards, each taken off two seconds after it came; the second reads one byte wrong.
TEST_F(Station, FlashesEachBoardOnceWithItsVerdictAndRecord)
{
    TakeBoardOffAt(2000);
    PutOnAt(4000, {"--erase-ms", "0", "--bad-read", "0x81"});
    TakeBoardOffAt(6000);
    PutOnAt(8000);
    TakeBoardOffAt(10000);
    RequestStopAt(12000, SIGINT);

    EXPECT_EQ(Run({"-v"}), 1);

    // Each board's chip is identified before anything else.
    const std::vector<std::string> stages = {
        "Chip      Am29F010B (manufacturer 0x01, device 0x20), 128 KiB, 8 sectors",
        "no sector protected", "Erase             Ok", "Program        100 %"};
    const std::vector<std::string> expected =
        std::vector<std::string>{"Board 1: started (0 OK, 0 NG)"} + stages +
        std::vector<std::string>{"Verify         100 %", "Time  0:00"} + OkScreen +
        std::vector<std::string>{"Board 2: started (1 OK, 0 NG)"} + stages +
        std::vector<std::string>{"Verify         Error", "Time  0:00"} + NgScreen +
        std::vector<std::string>{"Board 3: started (1 OK, 1 NG)"} + stages +
        std::vector<std::string>{"Verify         100 %", "Time  0:00"} + OkScreen +
        std::vector<std::string>{"Board 4: waiting (2 OK, 1 NG)", "",
                                 "3 boards flashed: 2 OK, 1 NG", ""};
    EXPECT_EQ(Screen(Console), expected) << Console;
    const std::vector<std::string> statuses = {
        "Board 1: board found (0 OK, 0 NG)",    "Board 1: started (0 OK, 0 NG)",
        "Board 2: remove board 1 (1 OK, 0 NG)", "Board 2: waiting (1 OK, 0 NG)",
        "Board 2: board found (1 OK, 0 NG)",    "Board 2: started (1 OK, 0 NG)",
        "Board 3: remove board 2 (1 OK, 1 NG)", "Board 3: waiting (1 OK, 1 NG)",
        "Board 3: board found (1 OK, 1 NG)",    "Board 3: started (1 OK, 1 NG)",
        "Board 4: remove board 3 (2 OK, 1 NG)", "Board 4: waiting (2 OK, 1 NG)",
    };
    EXPECT_EQ(Statuses(Console), statuses);
    // Said while the Verify line is drawn: it starts on a line of its own.
    EXPECT_NE(Diagnostics.find("\norbelt-dl: verify mismatch at 0x000081"), std::string::npos)
        << Diagnostics;

    ASSERT_EQ(Records.size(), 3u);
    const char* results[] = {"\"result\":\"OK\",\"failed_stage\":null,\"reason\":null",
                             "\"result\":\"NG\",\"failed_stage\":\"Verify\",\"reason\":\"verify "
                             "mismatch at 0x000081",
                             "\"result\":\"OK\",\"failed_stage\":null,\"reason\":null"};
    for (int board = 0; board < 3; ++board)
    {
        const std::string& record = Records[board];
        EXPECT_NE(record.find("\"board\":" + std::to_string(board + 1) + ","), std::string::npos)
            << record;
        EXPECT_NE(record.find(results[board]), std::string::npos) << record;
        EXPECT_NE(record.find("\"mode\":\"program-verify\""), std::string::npos) << record;
        // Each board's own start and time: the boards came 4 s apart, each took only the
        // realignment of its frame reader: the filler and the five zero bytes unanswered for
        // 50 ms each, and a quiet line before and after; the board that failed once more
        // after its failure.
        const char* elapsed = board == 1 ? "0.280" : "0.140";
        EXPECT_NE(record.find("\"elapsed_seconds\":" + std::string(elapsed) +
                              ",\"chip_id\":\"01:20\",\"chip\":\"Am29F010B\"}"),
                  std::string::npos)
            << record;
        EXPECT_EQ(CBytes(BoardFlash(board).begin(), BoardFlash(board).begin() + Length), Plain());
        const long long erase = FirstNonProbeMs(board) - board * 4000;
        EXPECT_GE(erase, SettleMs) << "board " << board;
        EXPECT_LE(erase, SettleMs + ProbePeriodMs + ProbeWaitMs + 240) << "board " << board;
    }
    // Board 1 answered the probes at 0, 250 and 500 ms, each followed by 20 ms of quiet.
    EXPECT_NE(Records[0].find("\"start\":\"1970-01-01T00:00:00.520Z\""), std::string::npos)
        << Records[0];
}

// A board left on the line is probed, never flashed again, whatever its verdict.
TEST_F(Station, BoardThatStaysIsFlashedOnce)
{
    const std::string bad[] = {"--bad-read", "0x10"};
    for (bool passes : {true, false})
    {
        std::string error;
        std::vector<std::string> options = Quick;
        if (!passes)
        {
            options.insert(options.end(), std::begin(bad), std::end(bad));
        }
        ASSERT_TRUE(ConnectBoard(options, {}, error)) << error;
        ResetFakeClock();
        ResetFakeStop();
        RequestStopAt(20000, SIGTERM);
        EXPECT_EQ(Run({"-v"}), passes ? 0 : 1);
        ASSERT_EQ(BoardsPutOn(), 1);
        // One erase, one pass of programming: the write cycles that return the chip to reading
        // its array, of autoselect and its reset, erase, bypass and its program cycles, and the
        // program frames.
        EXPECT_EQ(FramesWith(0, 0x80), 4u + 4 + 6 + 3 + 256 + 2);
        EXPECT_EQ(FramesWith(0, 0xC0), 256u);
        // Then probes every quarter second for the 19.5 s after the download.
        EXPECT_GE(ProbesSent(0), 19500u / ProbePeriodMs);
        EXPECT_EQ(Records.size(), 1u);
        EXPECT_EQ(Lines(Console).back(),
                  passes ? "1 board flashed: 1 OK, 0 NG" : "1 board flashed: 0 OK, 1 NG");
    }
}

// --skip-blank's count is each board's own: 0 for one whose erase never ended.
TEST_F(Station, SkippedBytesAreEachBoardsOwn)
{
    TakeBoardOffAt(2000);
    PutOnAt(4000, {"--erase-ms", "0", "--erase-never"});
    RequestStopAt(60000, SIGINT);
    EXPECT_EQ(Run({"--skip-blank"}), 1);
    ASSERT_EQ(Records.size(), 2u);
    EXPECT_EQ(Records[0].find("\"skipped_bytes\":0}"), std::string::npos) << Records[0];
    EXPECT_NE(Records[0].find("\"result\":\"OK\""), std::string::npos) << Records[0];
    EXPECT_NE(Records[1].find("\"failed_stage\":\"Erase\""), std::string::npos) << Records[1];
    EXPECT_NE(Records[1].find("\"skipped_bytes\":0,"), std::string::npos) << Records[1];
}

// While the adapter is away the status says so, and a message on standard error gets a line of
// its own: the status is ended before it and drawn anew.
TEST_F(Station, TellsAnAdapterGoneOnALineOfItsOwn)
{
    UnplugPortAt(2000, 4000);
    RequestStopAt(6000, SIGINT);
    EXPECT_EQ(Run({}), 0);
    EXPECT_TRUE(std::regex_search(Console, std::regex("NG\\) *\nBoard 2: adapter gone")))
        << Console;
}

// A board whose chip may not take the image is refused before anything is erased or
// programmed; the station goes on with the next board.
TEST_F(Station, RefusesABoardWithoutAChipAndFlashesTheNext)
{
    std::string error;
    ASSERT_TRUE(ConnectBoard({"--erase-ms", "0", "--no-chip"}, {}, error)) << error;
    TakeBoardOffAt(2000);
    PutOnAt(4000);
    RequestStopAt(8000, SIGINT);
    EXPECT_EQ(Run({}), 1);
    ASSERT_EQ(Records.size(), 2u);
    EXPECT_NE(Records[0].find("\"failed_stage\":\"Identify\",\"reason\":\"no flash chip "
                              "answered\""),
              std::string::npos)
        << Records[0];
    EXPECT_NE(Records[0].find("\"chip_id\":null,\"chip\":null}"), std::string::npos);
    // The return to reading the array, autoselect, its reset, and no other write cycle.
    EXPECT_EQ(FramesWith(0, 0x80), 4u + 4);
    EXPECT_EQ(FramesWith(0, 0xC0), 0u);
    EXPECT_NE(Records[1].find("\"result\":\"OK\""), std::string::npos) << Records[1];
}

#if !defined(_WIN32)
// A line that asked for records gets no board without one: the station stops after the board
// whose record could not be written, though another board waits.
TEST_F(Station, StopsWhenARecordCannotBeWritten)
{
    TakeBoardOffAt(2000);
    PutOnAt(3000);
    RequestStopAt(10000, SIGINT);
    EXPECT_EQ(Run({}, "/dev/full"), 1);
    EXPECT_EQ(Lines(Console).back(), "1 board flashed: 0 OK, 1 NG") << Console;
    // It ended at once, before the next board came.
    EXPECT_LT(FakeClockMilliseconds(), 3000);
    EXPECT_STREQ(LastDiagnostic(), "board 1 could not be recorded: the station stops");
}
#endif

struct CEndCase
{
    const char* Name;
    long long StopMs;
    long long SecondBoardMs; // 0: none
    std::vector<std::string> SecondBoard;
    int Status;
    const char* Summary;
    size_t Records;
};

void PrintTo(const CEndCase& row, std::ostream* out)
{
    *out << row.Name;
}

// The first board stays on until 2000 ms and passes; the second, when there is one, comes at
// 4000 ms. An erase of 60 s is under way when the stop comes at 5000 ms.
const CEndCase EndCases[] = {
    {"NoBoardYet", 100, 0, {}, 0, "0 boards flashed: 0 OK, 0 NG", 0},
    {"AllPassed", 6000, 4000, Quick, 0, "2 boards flashed: 2 OK, 0 NG", 2},
    {"OneFailed",
     6000,
     4000,
     {"--erase-ms", "0", "--bad-cell", "3"},
     1,
     "2 boards flashed: 1 OK, 1 NG",
     2},
    {"StopInADownload",
     5000,
     4000,
     {"--erase-ms", "60000"},
     128 + SIGINT,
     "2 boards flashed: 1 OK, 1 NG",
     2},
};

class StationEnd : public Station, public ::testing::WithParamInterface<CEndCase>
{
};

TEST_P(StationEnd, CountsAndExitStatus)
{
    const CEndCase& row = GetParam();
    if (row.StopMs == 100)
    {
        TakeBoardOffAt(0);
    }
    TakeBoardOffAt(2000);
    if (row.SecondBoardMs != 0)
    {
        PutOnAt(row.SecondBoardMs, row.SecondBoard);
    }
    RequestStopAt(row.StopMs, SIGINT);
    EXPECT_EQ(Run({}), row.Status);
    const std::vector<std::string> lines = Lines(Console);
    ASSERT_GE(lines.size(), 2u) << Console;
    EXPECT_EQ(lines.back(), row.Summary);
    EXPECT_EQ(lines[lines.size() - 2], "");
    EXPECT_EQ(Records.size(), row.Records);
    if (row.Status > 128)
    {
        EXPECT_NE(Records.back().find("\"reason\":\"stopped by signal 2\""), std::string::npos)
            << Records.back();
        // The stop ended the erase poll at once, not 35 s later.
        EXPECT_LT(FakeClockMilliseconds(), row.StopMs + 1000);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, StationEnd, ::testing::ValuesIn(EndCases),
                         [](const ::testing::TestParamInfo<CEndCase>& info)
                         { return std::string(info.param.Name); });

} // namespace
