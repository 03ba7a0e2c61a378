// A board left out of step without a power cycle: a frame cut short in its reader, or a chip
// left in unlock bypass by a run that was killed. Each row puts the board in that state through
// the port, then runs downloads as an operator would until one passes.
#include "image/Image.h"
#include "serial/ComPort.h"
#include "target/Download.h"
#include "target/FlashCommands.h"
#include "target/TargetLink.h"
#include "tests/unit/BoardPort.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace
{

struct CStuckCase
{
    const char* Name;
    int CutBytes;  // bytes of a frame the board holds
    bool InBypass; // the chip was left in unlock bypass
    bool Stream;
    int FailedRuns;  // before the one that passes
    const char* Why; // the start of the first run's note
};

void PrintTo(const CStuckCase& row, std::ostream* out)
{
    *out << row.Name;
}

const CStuckCase Cases[] = {
    // The cut frame's remains and the first cycle make one frame, answered; the rest of that
    // cycle starts a frame with no command, unanswered.
    // The record keeps the failure, not the realignment that follows it.
    {"CutAfterOneByte", 1, false, false, 1, "no reply to the write cycle at 0x0002AA"},
    {"CutAfterFourBytes", 4, false, false, 1, "no reply to the write cycle at 0x0002AA"},
    {"CutProgramFrame", 3, true, false, 1, "no reply to the write cycle at 0x000555"},
    // Two bytes behind, every frame is answered, the cycles as reads: the erase never starts,
    // which the polls see.
    {"CutAfterTwoBytes", 2, false, false, 0, ""},
    {"CutAfterTwoBytesStream", 2, false, true, 0, ""},
    {"InBypass", 0, true, false, 0, ""},
    {"InBypassStream", 0, true, true, 0, ""},
};

class StuckBoard : public ::testing::TestWithParam<CStuckCase>
{
};

TEST_P(StuckBoard, PassesWithinTwoRunsAndSeconds)
{
    const CStuckCase& row = GetParam();
    std::string error;
    // The board holds an earlier firmware: a skipped erase shows.
    ASSERT_TRUE(ConnectBoard({"--erase-ms", "1500"}, std::vector<uint8_t>(256, 0x5A), error))
        << error;
    ResetFakeClock();
    PortNumber = 7;
    StreamMode = row.Stream;
    RunMode = &ProgramVerifyRun;
    for (int i = 0; i < 200; ++i)
    {
        ImageBuffer[i] = static_cast<unsigned char>(i * 7 + 3);
    }
    ImageLength = 200;
    ASSERT_TRUE(OpenTargetPort());
    if (row.InBypass)
    {
        ASSERT_TRUE(SendSequence(EnterBypass));
    }
    // A program pair cut short: the cycle that arms it and the start of its frame.
    const unsigned char cut[] = {0xC0, 0x40, 0x00, 0x00};
    const unsigned char cycle[] = {0x80, 0x33, 0x03, 0x00};
    TargetPort.Write(row.InBypass ? cut : cycle, row.CutBytes);

    int failed = 0;
    bool passed = false;
    long long firstRunMs = 0;
    std::string firstNote;
    while (!passed && failed <= row.FailedRuns)
    {
        const long long start = FakeClockMilliseconds();
        CBoardRun run;
        KeepNotesIn(&run.Notes);
        ::testing::internal::CaptureStdout();
        passed = RunDownload(run);
        ::testing::internal::GetCapturedStdout();
        KeepNotesIn(nullptr);
        if (failed == 0)
        {
            firstRunMs = FakeClockMilliseconds() - start;
            firstNote = run.Notes.Reason;
        }
        failed += passed ? 0 : 1;
    }
    EXPECT_TRUE(passed);
    EXPECT_EQ(failed, row.FailedRuns);
    EXPECT_EQ(firstNote.rfind(row.Why, 0), 0u) << firstNote;
    // Not the 35 s of an erase that never ends: the polls see it at once.
    EXPECT_LT(firstRunMs, 6000);
    EXPECT_EQ(std::vector<uint8_t>(BoardFlash().begin(), BoardFlash().begin() + 200),
              std::vector<uint8_t>(ImageBuffer, ImageBuffer + 200));
}

INSTANTIATE_TEST_SUITE_P(Rows, StuckBoard, ::testing::ValuesIn(Cases),
                         [](const ::testing::TestParamInfo<CStuckCase>& info)
                         { return std::string(info.param.Name); });

} // namespace

// A board that an earlier run left out of step, in unlock bypass with a program armed, erasing
// or answering a byte too many, then asked for its chip: it is identified at the first run, and
// no byte of its flash changes but what its own erase does.
struct CAskCase
{
    const char* Name;
    int CutBytes; // of the frame the board's reader holds
    bool Armed;   // the chip in unlock bypass, a program armed by its 0xA0 cycle
    bool Erasing; // a chip erase of 3 s under way
    std::vector<std::string> Board;
};

void PrintTo(const CAskCase& row, std::ostream* out)
{
    *out << row.Name;
}

// The recovery's frames come first: filler, read, the return to reading the array, two reads.
const CAskCase AskCases[] = {
    {"CutAfterOneByte", 1, false, false, {}},
    {"CutAfterTwoBytes", 2, false, false, {}},
    {"CutAfterThreeBytes", 3, false, false, {}},
    {"CutAfterFourBytes", 4, false, false, {}},
    {"ArmedAtAFrameEnd", 0, true, false, {}},
    {"ArmedCutAfterThreeBytes", 3, true, false, {}},
    {"ArmedCutAfterFourBytes", 4, true, false, {}},
    {"Erasing", 0, false, true, {}},
    {"SurplusAfterAutoselect", 0, false, false, {"--surplus", "10:1"}},
    {"SurplusAfterTheCode", 0, false, false, {"--surplus", "12:2"}},
};

class AskedBoard : public ::testing::TestWithParam<CAskCase>
{
};

TEST_P(AskedBoard, IsIdentifiedAtTheFirstRunAndKeepsItsFlash)
{
    const CAskCase& row = GetParam();
    std::vector<uint8_t> flash(0x20000);
    for (size_t i = 0; i < flash.size(); ++i)
    {
        flash[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    std::vector<std::string> options = row.Board;
    options.insert(options.end(), {"--erase-ms", "3000"});
    std::string error;
    ASSERT_TRUE(ConnectBoard(options, flash, error)) << error;
    ResetFakeClock();
    PortNumber = 7;
    RunMode = &IdentifyRun;
    ASSERT_TRUE(OpenTargetPort());
    if (row.Armed)
    {
        ASSERT_TRUE(SendSequence(EnterBypass) && WriteTargetCycle(0x333, 0xA0));
    }
    if (row.Erasing)
    {
        ASSERT_TRUE(SendSequence(ChipErase));
        std::fill(flash.begin(), flash.end(), 0xFF);
    }
    const unsigned char program[] = {0xC0, 0x10, 0x00, 0x00};
    const unsigned char cycle[] = {0x80, 0x33, 0x03, 0x00};
    TargetPort.Write(row.Armed ? program : cycle, row.CutBytes);

    CBoardRun run;
    KeepNotesIn(&run.Notes);
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(RunDownload(run)) << run.Notes.Reason;
    const std::string console = ::testing::internal::GetCapturedStdout();
    KeepNotesIn(nullptr);
    // A surplus byte is told as ever ("Read More"), then the chip.
    EXPECT_NE(console.find("Chip      Am29F010B (manufacturer 0x01, device 0x20)"),
              std::string::npos)
        << console;
    EXPECT_TRUE(BoardFlash() == flash);
    EXPECT_LT(FakeClockMilliseconds(), row.Erasing ? 3500 : 500);
}

INSTANTIATE_TEST_SUITE_P(Rows, AskedBoard, ::testing::ValuesIn(AskCases),
                         [](const ::testing::TestParamInfo<CAskCase>& info)
                         { return std::string(info.param.Name); });
