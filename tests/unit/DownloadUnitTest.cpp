// The download in process: the real transactions, block loop, erase poll and stages against
// the board's own flash model and frame server, on a fake clock. Each row is one run; the
// frames expected are written out here from the protocol, so that a wrong byte anywhere in a
// command sequence or in the frame encoding shows.
#include "base/Diagnostic.h"
#include "image/Image.h"
#include "target/Download.h"
#include "target/RunPlan.h"
#include "tests/unit/BoardPort.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace
{

const int Length = 200; // three whole blocks and a partial one
const int Sent = 256;   // what the four blocks carry

using CBytes = std::vector<uint8_t>;

void Add(CBytes& bytes, uint8_t command, int address, uint8_t data)
{
    bytes.insert(bytes.end(),
                 {command, static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8),
                  static_cast<uint8_t>(address >> 16), data});
}

void AddCycles(CBytes& bytes, std::initializer_list<std::pair<int, uint8_t>> cycles)
{
    for (const auto& cycle : cycles)
    {
        Add(bytes, 0x80, cycle.first, cycle.second);
    }
}

CBytes Image()
{
    CBytes image(Sent);
    for (int i = 0; i < Sent; ++i)
    {
        image[i] = static_cast<uint8_t>(i * 37 + 11);
    }
    return image;
}

// Image() with runs of 0xFF: ten bytes and the last byte of block 0, all of block 1, the first
// byte of block 2, the last image bytes of block 3 and the start of its tail.
CBytes BlankRunsImage()
{
    CBytes image = Image();
    for (int i : {10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 63, 128})
    {
        image[i] = 0xFF;
    }
    std::fill(image.begin() + 64, image.begin() + 128, 0xFF);
    std::fill(image.begin() + 196, image.begin() + 230, 0xFF);
    return image;
}

// The frames of the stages, as the protocol has them.
CBytes Erase(int polls)
{
    CBytes bytes;
    AddCycles(
        bytes,
        {{0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0x80}, {0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0x10}});
    for (int poll = 0; poll < polls; ++poll)
    {
        Add(bytes, 0x00, 0, 0);
    }
    return bytes;
}

// The program stage's frames for the image bytes below end; with skipBlank those of
// BlankRunsImage() but its bytes of 0xFF.
CBytes Program(int end, bool skipBlank = false)
{
    const CBytes image = skipBlank ? BlankRunsImage() : Image();
    CBytes bytes;
    AddCycles(bytes, {{0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0x20}});
    for (int i = 0; i < end; ++i)
    {
        if (!skipBlank || image[i] != 0xFF)
        {
            Add(bytes, 0x80, 0x333, 0xA0);
            Add(bytes, 0xC0, i, image[i]);
        }
    }
    return bytes;
}

CBytes LeaveBypass()
{
    CBytes bytes;
    AddCycles(bytes, {{0x333, 0x90}, {0x333, 0xF0}});
    return bytes;
}

CBytes Reads(int count)
{
    CBytes bytes;
    for (int i = 0; i < count; ++i)
    {
        Add(bytes, 0x00, i, 0);
    }
    return bytes;
}

// The bytes that realign the board's frame reader: four of 0xFF, then zero bytes until a read
// frame is answered, on a board in step at the sixth; fifteen bytes in all go unanswered on
// one that has stopped answering.
CBytes Realigned(bool answered = true)
{
    CBytes bytes(4, 0xFF);
    bytes.resize(answered ? 10 : 15, 0x00);
    return bytes;
}

CBytes FirstFrames(CBytes bytes, int frames)
{
    bytes.resize(static_cast<size_t>(frames) * 5);
    return bytes;
}

CBytes operator+(CBytes left, const CBytes& right)
{
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

// The console, written out from its convention.
std::string Label(const char* label)
{
    return std::string(label) + std::string(20 - strlen(label), ' ');
}

std::string Figure(int percent)
{
    char text[32];
    snprintf(text, sizeof text, "\b\b\b\b\b%3d %%", percent);
    return text;
}

std::string StageUpTo(const char* label, int total, int blocks)
{
    std::string text = Label(label);
    for (int offset = 0; offset < total && offset / 64 < blocks; offset += 64)
    {
        text += Figure(offset * 100 / total);
    }
    return text;
}

std::string Stage(const char* label, int total)
{
    return StageUpTo(label, total, 1 << 20) + Figure(100) + "\n";
}

std::string ErasePolls(int marks, int takenBack, bool erased)
{
    std::string text = Label("Erase") + std::string(marks, '+');
    for (int i = 0; i < takenBack; ++i)
    {
        text += "\b \b";
    }
    return text + (erased ? "\b\b\b Ok\n" : "");
}

const std::string Erased = ErasePolls(1, 1, true);
const std::string Error = "\b\b\b\b\b\b Error\n";

std::string Time(int seconds)
{
    char text[32];
    snprintf(text, sizeof text, "Time  %d:%02d\n", seconds / 60, seconds % 60);
    return text;
}

struct CRunCase
{
    const char* Name;
    const CRunMode* Mode;
    bool Stream;
    std::vector<std::string> Board; // orbelt-board's options
    bool ImageOnBoard;
    bool Succeeds;
    CBytes Frames;
    std::string Console;
    const char* Diagnostic; // the start of the last diagnostic; "" for none
    bool SkipBlank = false; // --skip-blank, on BlankRunsImage() instead of Image()
};

void PrintTo(const CRunCase& row, std::ostream* out)
{
    *out << row.Name;
}

const std::vector<std::string> NoErase = {"--erase-ms", "0"};

std::vector<std::string> NoEraseAnd(std::initializer_list<std::string> more)
{
    std::vector<std::string> options = NoErase;
    options.insert(options.end(), more);
    return options;
}

const CRunCase Cases[] = {
    {"Program", &ProgramRun, false, NoErase, false, true, Erase(1) + Program(Sent) + LeaveBypass(),
     Erased + Stage("Program", Length) + Time(0), ""},
    {"ProgramVerify", &ProgramVerifyRun, false, NoErase, false, true,
     Erase(1) + Program(Sent) + LeaveBypass() + Reads(Sent),
     Erased + Stage("Program", Length) + Stage("Verify", Length) + Time(0), ""},
    {"ProgramVerifyStream", &ProgramVerifyRun, true, NoErase, false, true,
     Erase(1) + Program(Sent) + LeaveBypass() + Reads(Sent),
     Erased + Stage("Program", Length) + Stage("Verify", Length) + Time(0), ""},
    {"VerifyOnly", &VerifyRun, false, {}, true, true, Reads(Sent), Stage("Verify", Length), ""},
    {"VerifyOnlyStream",
     &VerifyRun,
     true,
     {},
     true,
     true,
     Reads(Sent),
     Stage("Verify", Length),
     ""},
    {"Read", &ReadRun, false, {}, true, true, Reads(Sent), Stage("Read", Sent) + Time(0), ""},
    {"Erase", &EraseRun, false, NoErase, false, true, Erase(1), Erased + Time(0), ""},
    // 1500 ms of erase: the one-second polls see it at the third, 2 s in; the 100 ms polls of
    // --stream at the sixteenth, and the console shows the same.
    {"EraseTakesTime",
     &EraseRun,
     false,
     {},
     false,
     true,
     Erase(3),
     ErasePolls(3, 3, true) + Time(2),
     ""},
    {"EraseTakesTimeStream",
     &EraseRun,
     true,
     {},
     false,
     true,
     Erase(16),
     ErasePolls(3, 3, true) + Time(1),
     ""},
    {"EraseNeverEnds", &ProgramRun, false, NoEraseAnd({"--erase-never"}), false, false,
     Erase(35) + Realigned(), ErasePolls(35, 36, false) + Error + Time(35),
     "the chip erase did not finish after 35 polls"},
    {"EraseNeverEndsStream", &EraseRun, true, NoEraseAnd({"--erase-never"}), false, false,
     Erase(341) + Realigned(), ErasePolls(35, 36, false) + Error + Time(35),
     "the chip erase did not finish after 35 polls"},
    {"NoReplyToAnEraseCycle", &ProgramRun, false, NoEraseAnd({"--stop-after", "2"}), false, false,
     FirstFrames(Erase(0), 3) + Realigned(false), Label("Erase") + Error + Time(1),
     "no reply to the write cycle at 0x000555"},
    {"NoReplyToThePoll", &ProgramRun, false, NoEraseAnd({"--stop-after", "6"}), false, false,
     Erase(1) + Realigned(false), Label("Erase") + "+" + Error + Time(1),
     "no reply to the read at 0x000000"},
    // Block 2 stops after its first pair: the leave cycles follow at once, unacknowledged.
    {"NoReplyInTheProgramStage", &ProgramVerifyRun, false,
     NoEraseAnd({"--stop-after", std::to_string(7 + 3 + 2 * 129)}), false, false,
     Erase(1) + Program(192) + Realigned(false) + LeaveBypass(),
     Erased + StageUpTo("Program", Length, 3) + Error + Time(1),
     "no reply to the program at 0x000081"},
    // The short reply puts the next pair's first byte where the read-back belongs.
    {"ShortReplyInTheProgramStage", &ProgramRun, false, NoEraseAnd({"--short-program", "70"}),
     false, false, Erase(1) + Program(128) + Realigned() + LeaveBypass(),
     Erased + StageUpTo("Program", Length, 2) + "Program Error\n" + Error + Time(0),
     "program error at 0x000045: third reply byte 0x00, expected 0x04; the replies are out of "
     "step, 1 byte short"},
    {"SurplusInTheProgramStage", &ProgramRun, false, NoEraseAnd({"--surplus", "100:1"}), false,
     false, Erase(1) + Program(64) + Realigned() + LeaveBypass(),
     Erased + StageUpTo("Program", Length, 1) + "Program Error\n" + Error + Time(0),
     "program error at 0x00002D: third reply byte 0x00, expected 0x8C; the replies are out of "
     "step, 1 surplus byte"},
    {"ProgramError", &ProgramRun, true, NoEraseAnd({"--bad-cell", "0x45"}), false, false,
     Erase(1) + Program(192) + Realigned() + LeaveBypass(),
     Erased + StageUpTo("Program", Length, 2) + "Program Error\n" + Error + Time(0),
     "program error at 0x000045: third reply byte 0x05, expected 0x04"},
    {"VerifyMismatch", &ProgramVerifyRun, false, NoEraseAnd({"--bad-read", "0x81"}), false, false,
     Erase(1) + Program(Sent) + LeaveBypass() + Reads(192) + Realigned(),
     Erased + Stage("Program", Length) + StageUpTo("Verify", Length, 3) + Error + Time(0),
     "verify mismatch at 0x000081"},
    {"VerifyOnlyMismatchStream",
     &VerifyRun,
     true,
     {"--bad-read", "0x81"},
     true,
     false,
     Reads(Sent) + Realigned(),
     StageUpTo("Verify", Length, 3) + Error,
     "verify mismatch at 0x000081"},
    {"SurplusAfterTheLastVerifyFrame", &ProgramVerifyRun, false,
     NoEraseAnd({"--surplus", std::to_string(12 + 2 * Sent + Sent) + ":3"}), false, true,
     Erase(1) + Program(Sent) + LeaveBypass() + Reads(Sent),
     Erased + Stage("Program", Length) + StageUpTo("Verify", Length, 4) + "Prog More\n" +
         Figure(100) + "\n" + Time(0),
     ""},
    {"SurplusAfterThePoll", &EraseRun, false, NoEraseAnd({"--surplus", "7:1"}), false, true,
     Erase(1), Label("Erase") + "+Read More \n\b \b\b\b\b Ok\n" + Time(0), ""},
    // --stream sends each command sequence in one write: an unanswered cycle fails the stage as
    // it does cycle by cycle, after the rest of its sequence (and what shares its write) went
    // out. The first poll goes with the erase cycles, the enter-bypass cycles ahead of the
    // first block, the leave cycles right behind the last one.
    {"NoReplyToAnEraseCycleStream", &ProgramRun, true, NoEraseAnd({"--stop-after", "2"}), false,
     false, Erase(1) + Realigned(false), Label("Erase") + Error + Time(1),
     "no reply to the write cycle at 0x000555"},
    {"NoReplyToThePollStream", &ProgramRun, true, NoEraseAnd({"--stop-after", "6"}), false, false,
     Erase(1) + Realigned(false), Label("Erase") + "+" + Error + Time(1),
     "no reply to the read at 0x000000"},
    {"NoReplyToABypassCycleStream", &ProgramRun, true, NoEraseAnd({"--stop-after", "8"}), false,
     false, Erase(1) + Program(64) + Realigned(false) + LeaveBypass(),
     Erased + Label("Program") + Error + Time(1), "no reply to the write cycle at 0x0002AA"},
    {"NoReplyToALeaveCycleStream", &ProgramRun, true,
     NoEraseAnd({"--stop-after", std::to_string(7 + 3 + 2 * Sent + 1)}), false, false,
     Erase(1) + Program(Sent) + LeaveBypass() + Realigned(false) + LeaveBypass(),
     Erased + Stage("Program", Length) + Error + Time(1),
     "no reply to the write cycle at 0x000333"},
    // Acknowledgements of 0xFF look for surplus: the replies in flight behind them are none.
    // The leave cycles went out right behind the last block: after its failure they go again,
    // once the line is quiet.
    {"ProgramErrorInTheLastBlockStream", &ProgramRun, true, NoEraseAnd({"--bad-cell", "0xC5"}),
     false, false, Erase(1) + Program(Sent) + LeaveBypass() + Realigned() + LeaveBypass(),
     Erased + StageUpTo("Program", Length, 4) + "Program Error\n" + Error + Time(0),
     "program error at 0x0000C5: third reply byte 0x85, expected 0x84"},
    {"FFAcknowledgementsStream", &ProgramVerifyRun, true, NoEraseAnd({"--ack", "0xFF"}), false,
     true, Erase(1) + Program(Sent) + LeaveBypass() + Reads(Sent),
     Erased + Stage("Program", Length) + Stage("Verify", Length) + Time(0), ""},
    // --skip-blank: no frame for a byte of 0xFF, in the image or in the tail of the last block;
    // a whole blank block sends nothing. Console, erase, bypass cycles and verify are as without.
    {"ProgramVerifySkipBlank", &ProgramVerifyRun, false, NoErase, false, true,
     Erase(1) + Program(Sent, true) + LeaveBypass() + Reads(Sent),
     Erased + Stage("Program", Length) + Stage("Verify", Length) + Time(0), "", true},
    {"ProgramVerifySkipBlankStream", &ProgramVerifyRun, true, NoErase, false, true,
     Erase(1) + Program(Sent, true) + LeaveBypass() + Reads(Sent),
     Erased + Stage("Program", Length) + Stage("Verify", Length) + Time(0), "", true},
    // Where nothing is programmed the option changes nothing.
    {"VerifyOnlySkipBlank", &VerifyRun, false, NoErase, true, true, Reads(Sent),
     Stage("Verify", Length), "", true},
    {"ReadSkipBlank", &ReadRun, false, NoErase, true, true, Reads(Sent),
     Stage("Read", Sent) + Time(0), "", true},
    {"EraseSkipBlank", &EraseRun, false, NoErase, false, true, Erase(1), Erased + Time(0), "",
     true},
    // Bytes after a skipped run are named by their own address.
    {"ProgramErrorAfterABlankRunStream", &ProgramRun, true, NoEraseAnd({"--bad-cell", "0x14"}),
     false, false, Erase(1) + Program(128, true) + Realigned() + LeaveBypass(),
     Erased + StageUpTo("Program", Length, 1) + "Program Error\n" + Error + Time(0),
     "program error at 0x000014: third reply byte 0xEE, expected 0xEF", true},
    {"ShortReplyAfterABlankRun", &ProgramRun, false, NoEraseAnd({"--short-program", "12"}), false,
     false, Erase(1) + Program(64, true) + Realigned() + LeaveBypass(),
     Erased + StageUpTo("Program", Length, 1) + "Program Error\n" + Error + Time(0),
     "program error at 0x000015: third reply byte 0x00, expected 0x14; the replies are out of "
     "step, 1 byte short",
     true},
    // A cell that reads wrong where nothing was programmed: verify still finds it.
    {"VerifyMismatchInABlankBlockStream", &ProgramVerifyRun, true,
     NoEraseAnd({"--bad-cell", "0x50"}), false, false,
     Erase(1) + Program(Sent, true) + LeaveBypass() + Reads(192) + Realigned(),
     Erased + Stage("Program", Length) + StageUpTo("Verify", Length, 2) + Error + Time(0),
     "verify mismatch at 0x000050: expected 0xFF, read 0xFE", true},
};

class DownloadRun : public ::testing::TestWithParam<CRunCase>
{
};

TEST_P(DownloadRun, SendsTheFramesAndShowsTheConsole)
{
    const CRunCase& row = GetParam();
    const CBytes image = row.SkipBlank ? BlankRunsImage() : Image();
    std::string error;
    ASSERT_TRUE(ConnectBoard(row.Board, row.ImageOnBoard ? image : CBytes(), error)) << error;
    ResetFakeClock();
    memset(ImageBuffer, 0, sizeof ImageBuffer);
    memcpy(ImageBuffer, image.data(), image.size());
    ImageLength = Length;
    PortNumber = 7;
    ReadSize = Sent;
    StreamMode = row.Stream;
    SkipBlank = row.SkipBlank;
    RunMode = row.Mode;
    CBoardRun run;
    KeepNotesIn(&run.Notes);

    ::testing::internal::CaptureStdout();
    const bool succeeded = RunDownload(run);
    const std::string console = ::testing::internal::GetCapturedStdout();

    EXPECT_EQ(succeeded, row.Succeeds);
    EXPECT_EQ(console, row.Console);
    EXPECT_EQ(BytesSent(), row.Frames)
        << BytesSent().size() / 5 << " frames sent, " << row.Frames.size() / 5 << " expected";
    EXPECT_EQ(std::string(LastDiagnostic()).rfind(row.Diagnostic, 0), 0u) << LastDiagnostic();
    if (row.Succeeds && row.Mode == &ReadRun)
    {
        EXPECT_EQ(CBytes(ImageBuffer, ImageBuffer + Sent), image);
    }
    if (row.Succeeds && (row.Mode == &ProgramRun || row.Mode == &ProgramVerifyRun))
    {
        EXPECT_EQ(CBytes(BoardFlash().begin(), BoardFlash().begin() + Sent), image);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, DownloadRun, ::testing::ValuesIn(Cases),
                         [](const ::testing::TestParamInfo<CRunCase>& info)
                         { return std::string(info.param.Name); });

// Addresses from 64 KiB on carry bits 16 to 23 in the frame's fourth byte.
TEST(DownloadAddresses, ReachPastSixtyFourKiB)
{
    const int size = 0x10000 + 64;
    CBytes flash(size);
    for (int i = 0; i < size; ++i)
    {
        flash[i] = static_cast<uint8_t>(i ^ (i >> 8) ^ (i >> 16));
    }
    std::string error;
    ASSERT_TRUE(ConnectBoard({}, flash, error)) << error;
    PortNumber = 7;
    ReadSize = size;
    StreamMode = true;
    RunMode = &ReadRun;
    ::testing::internal::CaptureStdout();
    CBoardRun run;
    EXPECT_TRUE(RunDownload(run));
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(BytesSent(), Reads(size));
    EXPECT_EQ(CBytes(ImageBuffer, ImageBuffer + size), flash);
}

TEST(DownloadPort, ThatWillNotOpenIsToldAndEndsTheRun)
{
    std::string error;
    ASSERT_TRUE(ConnectBoard({}, {}, error)) << error;
    SetPortOpens(false);
    PortNumber = 7;
    RunMode = &ProgramVerifyRun;
    ::testing::internal::CaptureStdout();
    CBoardRun run;
    EXPECT_FALSE(RunDownload(run));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Can't open COM7\n");
    EXPECT_TRUE(BytesSent().empty());
}

} // namespace
