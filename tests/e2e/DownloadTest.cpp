// Whole downloads through the real orbelt-dl binary against orbelt-board on a pseudo-terminal:
// console bytes, exit status, the frames on the wire and the flash contents.
#include "tests/e2e/DownloadFixture.h"

#include <algorithm>
#include <filesystem>
#include <unistd.h>

namespace
{

class ImageLengthTest : public DownloadTest, public ::testing::WithParamInterface<int>
{
};

} // namespace

TEST_P(ImageLengthTest, ProgramsAndVerifiesTheDescrambledImage)
{
    const int fileLength = GetParam();
    const int imageLength = std::min(fileLength, 131072);
    std::vector<uint8_t> plain = PlainImage(static_cast<size_t>(fileLength));
    CProcessResult result = Run(FastErase, {"-v", "-p", "7", Image(plain)});

    EXPECT_EQ(ConsoleBody(result.Out), EraseOkAtFirstPoll + StageLine("Program", imageLength) +
                                           StageLine("Verify", imageLength) + "Time  <t>\n" +
                                           OkEnding);
    std::vector<uint8_t> flash = FlashAfterDownload(plain);
    EXPECT_TRUE(Board.Dump() == flash) << "flash differs from the descrambled image";
    std::vector<CBoardFrame> frames = Board.TraceFrames();
    EXPECT_TRUE(frames == DownloadFrames(flash, static_cast<size_t>(imageLength), true))
        << frames.size() << " frames on the wire";
    EXPECT_EQ(Board.Trace().size() % 5, 0u);
}

INSTANTIATE_TEST_SUITE_P(Lengths, ImageLengthTest, ::testing::Values(100, 131072, 131073));

TEST_F(DownloadTest, HundredBytesShowTheirTwoBlocks)
{
    CProcessResult result = Run(FastErase, {"-p", "7", Image(PlainImage(100))});
    EXPECT_EQ(ConsoleBody(result.Out), "Erase               +\b \b\b\b\b Ok\n"
                                       "Program             \b\b\b\b\b  0 %\b\b\b\b\b 64 %"
                                       "\b\b\b\b\b100 %\n"
                                       "Time  <t>\n" +
                                           OkEnding);
}

TEST_F(DownloadTest, WithoutVerifyNothingIsReadBack)
{
    std::vector<uint8_t> plain = PlainImage(1000);
    CProcessResult result = Run(FastErase, {"-p", "7", Image(plain)});
    EXPECT_EQ(ConsoleBody(result.Out),
              EraseOkAtFirstPoll + StageLine("Program", 1000) + "Time  <t>\n" + OkEnding);
    std::vector<uint8_t> flash = FlashAfterDownload(plain);
    EXPECT_TRUE(Board.Dump() == flash);
    EXPECT_TRUE(Board.TraceFrames() == DownloadFrames(flash, 1000, false));
}

TEST_F(DownloadTest, WallClockStepDoesNotShowInTheTime)
{
    std::vector<uint8_t> plain = PlainImage(100);
    std::string image = Image(plain);
    ASSERT_TRUE(Board.Start(FastErase));
    CProcessOptions options;
    options.Environment = {"ORBELT_COM7=" + Board.Device(),
                           std::string("LD_PRELOAD=") + ORBELT_WALL_CLOCK_STEP,
                           "ASAN_OPTIONS=verify_asan_link_order=0"};
    CProcessResult result = RunProcess({ORBELT_DL_PATH, "-p", "7", image}, options);
    EXPECT_TRUE(result.ExitedWith(1)) << result.Describe();
    int elapsed = -1;
    EXPECT_EQ(ConsoleBody(result.Out, &elapsed),
              EraseOkAtFirstPoll + StageLine("Program", 100) + "Time  <t>\n" + OkEnding);
    EXPECT_GE(elapsed, 0);
    EXPECT_LE(elapsed, 3);
}

TEST_F(DownloadTest, FramesCarryAddressesLeastSignificantByteFirst)
{
    Run(FastErase, {"-p", "7", Image(PlainImage(0x10040))});
    std::vector<CBoardFrame> frames = Board.TraceFrames();
    ASSERT_GT(frames.size(), 20u);
    EXPECT_EQ(frames[0], (CBoardFrame{0x80, 0x55, 0x05, 0x00, 0xAA}));
    EXPECT_EQ(frames[1], (CBoardFrame{0x80, 0xAA, 0x02, 0x00, 0x55}));
    EXPECT_EQ(frames[6], (CBoardFrame{0x00, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(frames[10], (CBoardFrame{0x80, 0x33, 0x03, 0x00, 0xA0}));
    // Image byte 0x10023 is programmed by pair number 0x10023 after the 10 frames before.
    const CBoardFrame& high = frames[10 + 2 * 0x10023 + 1];
    EXPECT_EQ(high[0], 0xC0);
    EXPECT_EQ(high[1], 0x23);
    EXPECT_EQ(high[2], 0x00);
    EXPECT_EQ(high[3], 0x01);
}

TEST_F(DownloadTest, ErasePollWaitsASecondBetweenPolls)
{
    std::vector<uint8_t> plain = PlainImage(64);
    double start = MonotonicSeconds();
    CProcessResult result = Run({"--erase-ms", "400"}, {"-p", "7", Image(plain)});
    double took = MonotonicSeconds() - start;
    EXPECT_EQ(ConsoleBody(result.Out), "Erase               ++\b \b\b \b\b\b\b Ok\n" +
                                           StageLine("Program", 64) + "Time  <t>\n" + OkEnding);
    EXPECT_GE(took, 1.0);
    EXPECT_LT(took, 3.0);
    std::vector<CBoardFrame> frames = Board.TraceFrames();
    ASSERT_GE(frames.size(), 8u);
    EXPECT_EQ(frames[6], Frame(0x00, 0, 0));
    EXPECT_EQ(frames[7], Frame(0x00, 0, 0));
    EXPECT_TRUE(Board.Dump() == FlashAfterDownload(plain));
}

TEST_F(DownloadTest, VerifyOnlyComparesWithoutTouchingTheFlash)
{
    std::vector<uint8_t> plain = PlainImage(300);
    std::vector<uint8_t> flash = FlashAfterDownload(plain);
    ASSERT_TRUE(WriteFileBytes(Files.File("flash.bin"), flash));
    CProcessResult result =
        Run({"--image", Files.File("flash.bin")}, {"-vo", "-p", "7", Image(plain)});
    EXPECT_EQ(ConsoleBody(result.Out), StageLine("Verify", 300) + OkEnding);
    std::vector<CBoardFrame> frames = Board.TraceFrames();
    ASSERT_EQ(frames.size(), 320u);
    for (size_t i = 0; i < frames.size(); ++i)
    {
        ASSERT_EQ(frames[i], Frame(0x00, static_cast<uint32_t>(i), 0)) << i;
    }
    EXPECT_TRUE(Board.Dump() == flash);
}

TEST_F(DownloadTest, VerifyOnlyReportsOneDifferingByte)
{
    std::vector<uint8_t> plain = PlainImage(300);
    std::vector<uint8_t> flash = FlashAfterDownload(plain);
    flash[200] ^= 0x40;
    ASSERT_TRUE(WriteFileBytes(Files.File("flash.bin"), flash));
    CProcessResult result =
        Run({"--image", Files.File("flash.bin")}, {"-vo", "-p", "7", Image(plain)});
    EXPECT_EQ(ConsoleBody(result.Out), StageUpTo("Verify", 300, 3) + ErrorMarker + NgEnding);
}

TEST_F(DownloadTest, MissingPortIsReportedWithItsNumber)
{
    std::vector<uint8_t> plain = PlainImage(10);
    CProcessResult result = RunDownloader({"-p", "42", Image(plain)}, "/nonexistent/tty", 42);
    EXPECT_TRUE(result.ExitedWith(1)) << result.Describe();
    EXPECT_EQ(ConsoleBody(result.Out), "Can't open COM42\n" + NgEnding);
}

TEST_F(DownloadTest, UnansweredEraseCycleEndsTheRun)
{
    CProcessResult result = Run({"--stop-after", "2"}, {"-v", "-p", "7", Image(PlainImage(10))});
    EXPECT_EQ(ConsoleBody(result.Out),
              "Erase               " + ErrorMarker + "Time  <t>\n" + NgEnding);
    EXPECT_EQ(result.Err, "orbelt-dl: no reply to the write cycle at 0x000555\n");
    EXPECT_EQ(Board.TraceFrames().size(), 3u + 3)
        << "the sequence stops at the unanswered cycle; the realignment goes unanswered";
}

TEST_F(DownloadTest, UnansweredErasePollLeavesItsMark)
{
    CProcessResult result = Run({"--stop-after", "6"}, {"-p", "7", Image(PlainImage(10))});
    EXPECT_EQ(ConsoleBody(result.Out),
              "Erase               +" + ErrorMarker + "Time  <t>\n" + NgEnding);
}

TEST_F(DownloadTest, UnansweredBypassCycleFailsTheProgramStage)
{
    CProcessResult result =
        Run({"--erase-ms", "0", "--stop-after", "8"}, {"-p", "7", Image(PlainImage(10))});
    EXPECT_EQ(ConsoleBody(result.Out),
              EraseOkAtFirstPoll + "Program             " + ErrorMarker + "Time  <t>\n" + NgEnding);
    // The chip may have taken the bypass command all the same: it is told to leave it.
    std::vector<CBoardFrame> frames = Board.TraceFrames();
    ASSERT_EQ(frames.size(), 9u + 3 + 2);
    EXPECT_TRUE(std::vector<CBoardFrame>(frames.begin() + 12, frames.end()) == LeaveBypassFrames);
    EXPECT_LT(result.WallSeconds, 3.0) << "the leave cycles get a short grace only";
}

TEST_F(DownloadTest, ReadBackMismatchIsAProgramError)
{
    std::vector<uint8_t> plain = PlainImage(300);
    CProcessResult result =
        Run({"--erase-ms", "0", "--bad-cell", "130"}, {"-v", "-p", "7", Image(plain)});
    EXPECT_EQ(ConsoleBody(result.Out), EraseOkAtFirstPoll + StageUpTo("Program", 300, 2) +
                                           "Program Error\n" + ErrorMarker + "Time  <t>\n" +
                                           NgEnding);
    char diagnostic[80];
    snprintf(diagnostic, sizeof diagnostic,
             "orbelt-dl: program error at 0x000082: third reply byte 0x%02X, expected 0x%02X\n",
             plain[130] ^ 1, plain[130]);
    EXPECT_EQ(result.Err, diagnostic);
    // The failing block's frames all went out, then only the realignment and the cycles that
    // leave bypass mode.
    std::vector<CBoardFrame> frames = Board.TraceFrames();
    ASSERT_EQ(frames.size(), 6u + 1 + 3 + 3 * 128 + 2 + 2);
    EXPECT_EQ(frames.end()[-4], RealignFiller);
    EXPECT_EQ(frames.end()[-3], RealignRead);
    EXPECT_TRUE(std::vector<CBoardFrame>(frames.end() - 2, frames.end()) == LeaveBypassFrames);
}

TEST_F(DownloadTest, ProgramReplyOneByteShortFailsSilently)
{
    // The 64th program frame closes block 0, so only the block's last read comes up short.
    CProcessResult result =
        Run({"--erase-ms", "0", "--short-program", "64"}, {"-p", "7", Image(PlainImage(200))});
    EXPECT_EQ(ConsoleBody(result.Out), EraseOkAtFirstPoll + StageUpTo("Program", 200, 0) +
                                           ErrorMarker + "Time  <t>\n" + NgEnding);
    EXPECT_EQ(result.Err, "orbelt-dl: short reply to the program at 0x00003F: 2 of 3 bytes\n");
}

TEST_F(DownloadTest, VerifyMismatchAfterProgramming)
{
    std::vector<uint8_t> plain = PlainImage(200);
    CProcessResult result =
        Run({"--erase-ms", "0", "--bad-read", "100"}, {"-v", "-p", "7", Image(plain)});
    EXPECT_EQ(ConsoleBody(result.Out), EraseOkAtFirstPoll + StageLine("Program", 200) +
                                           StageUpTo("Verify", 200, 1) + ErrorMarker +
                                           "Time  <t>\n" + NgEnding);
    char diagnostic[80];
    snprintf(diagnostic, sizeof diagnostic,
             "orbelt-dl: verify mismatch at 0x000064: expected 0x%02X, read 0x%02X\n", plain[100],
             plain[100] ^ 1);
    EXPECT_EQ(result.Err, diagnostic);
}

TEST_F(DownloadTest, SurplusAfterTheLastProgramFrameOnlyWarns)
{
    // 6 erase + 1 poll + 3 bypass frames, then 64 pairs: frame 138 is the last program frame.
    // The surplus byte is then taken as the acknowledgement of the next cycle: 0xEE, no warning.
    std::vector<uint8_t> plain = PlainImage(64);
    CProcessResult result =
        Run({"--erase-ms", "0", "--surplus", "138:1"}, {"-p", "7", Image(plain)});
    EXPECT_EQ(ConsoleBody(result.Out), EraseOkAtFirstPoll + "Program             \b\b\b\b\b  0 %" +
                                           "Prog More\n\b\b\b\b\b100 %\n" + "Time  <t>\n" +
                                           OkEnding);
    EXPECT_TRUE(Board.Dump() == FlashAfterDownload(plain));
}

TEST_F(DownloadTest, SurplusAfterAnFFAcknowledgementWarns)
{
    // The last frame of a program-only run is the second leave-bypass cycle: frame 140.
    CProcessResult result = Run({"--erase-ms", "0", "--ack", "0xFF", "--surplus", "140:2"},
                                {"-p", "7", Image(PlainImage(64))});
    EXPECT_EQ(ConsoleBody(result.Out), EraseOkAtFirstPoll + StageLine("Program", 64) +
                                           "Write More \n" + "Time  <t>\n" + OkEnding);
}

TEST_F(DownloadTest, SurplusAfterTheErasePollWarns)
{
    // Zeros acknowledged with 0x00: the replies slip by one byte and still compare equal, and
    // the byte left over after each block is reported again.
    CProcessResult result = Run({"--erase-ms", "0", "--surplus", "7:1"},
                                {"-p", "7", Image(std::vector<uint8_t>(128, 0))});
    EXPECT_EQ(ConsoleBody(result.Out), "Erase               +Read More \n\b \b\b\b\b Ok\n"
                                       "Program             \b\b\b\b\b  0 %Prog More\n"
                                       "\b\b\b\b\b 50 %Prog More\n\b\b\b\b\b100 %\n"
                                       "Time  <t>\n" +
                                           OkEnding);
}

TEST_F(DownloadTest, SurplusAfterTheLastVerifyReadWarns)
{
    std::vector<uint8_t> plain = PlainImage(64);
    CProcessResult result =
        Run({"--erase-ms", "0", "--surplus", "204:3"}, {"-v", "-p", "7", Image(plain)});
    EXPECT_EQ(ConsoleBody(result.Out), EraseOkAtFirstPoll + StageLine("Program", 64) +
                                           "Verify              \b\b\b\b\b  0 %" +
                                           "Prog More\n\b\b\b\b\b100 %\n" + "Time  <t>\n" +
                                           OkEnding);
}

TEST_F(DownloadTest, VanishingBoardEndsTheRunAtOnce)
{
    CProcessResult result = Run({"--erase-ms", "0", "--vanish-after", "500"},
                                {"-v", "-p", "7", Image(PlainImage(4096))});
    EXPECT_EQ(ConsoleBody(result.Out), EraseOkAtFirstPoll + StageUpTo("Program", 4096, 3) +
                                           ErrorMarker + "Time  <t>\n" + NgEnding);
    EXPECT_LT(result.WallSeconds, 3.0);
    EXPECT_LT(result.CpuSeconds, 1.5);
}

TEST_F(DownloadTest, ChipThatNeverErasesIsGivenUpAfter35Polls)
{
    // The one run of the real 35-second erase time-out. It also shows that every "+" reaches a
    // file at once, although no line feed follows it.
    ASSERT_TRUE(Board.Start({"--erase-never"}));
    CBackgroundProcess downloader;
    CProcessOptions options;
    options.Environment.push_back("ORBELT_COM7=" + Board.Device());
    ASSERT_TRUE(downloader.Start({ORBELT_DL_PATH, "-p", "7", Image(PlainImage(10))}, options));
    // The third mark comes about two seconds in, long before the erase line ends.
    EXPECT_TRUE(WaitUntil([&] { return downloader.Stdout().find("+++") != std::string::npos; }, 10))
        << downloader.Stdout();
    ASSERT_TRUE(downloader.Wait(45));
    const CProcessResult& result = downloader.Result();
    EXPECT_TRUE(result.ExitedWith(1)) << result.Describe();
    int elapsed = -1;
    std::string marks;
    for (int i = 0; i < 36; ++i)
    {
        marks += "\b \b";
    }
    EXPECT_EQ(ConsoleBody(result.Out, &elapsed), "Erase               " + std::string(35, '+') +
                                                     marks + ErrorMarker + "Time  <t>\n" +
                                                     NgEnding);
    EXPECT_EQ(result.Err, "orbelt-dl: the chip erase did not finish after 35 polls\n");
    EXPECT_GE(elapsed, 34);
    EXPECT_LE(elapsed, 37);
    EXPECT_GE(result.WallSeconds, 35.0);
    EXPECT_LT(result.CpuSeconds, 1.5);
    EXPECT_EQ(Board.TraceFrames().size(), 6u + 35 + 2);
}
