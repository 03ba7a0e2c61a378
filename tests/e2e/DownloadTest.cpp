// Whole downloads through the real orbelt-dl binary against orbelt-board on a pseudo-terminal:
// console bytes, exit status, the frames on the wire and the flash contents.
#include "tests/e2e/Console.h"
#include "tests/support/Board.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <unistd.h>

namespace
{

const std::vector<std::string> FastErase = {"--erase-ms", "0"};

CBoardFrame Frame(uint8_t command, uint32_t address, uint8_t data)
{
    return {command, static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8),
            static_cast<uint8_t>(address >> 16), data};
}

CBoardFrame Cycle(uint32_t address, uint8_t value)
{
    return Frame(0x80, address, value);
}

const std::vector<CBoardFrame> EraseFrames = {
    Cycle(0x555, 0xAA), Cycle(0x2AA, 0x55), Cycle(0x555, 0x80),
    Cycle(0x555, 0xAA), Cycle(0x2AA, 0x55), Cycle(0x555, 0x10),
};
const std::vector<CBoardFrame> EnterBypassFrames = {Cycle(0x555, 0xAA), Cycle(0x2AA, 0x55),
                                                    Cycle(0x555, 0x20)};
const std::vector<CBoardFrame> LeaveBypassFrames = {Cycle(0x333, 0x90), Cycle(0x333, 0xF0)};

void Append(std::vector<CBoardFrame>& frames, const std::vector<CBoardFrame>& more)
{
    frames.insert(frames.end(), more.begin(), more.end());
}

// Every frame of a download whose chip reads erased at the first poll.
std::vector<CBoardFrame> DownloadFrames(const std::vector<uint8_t>& flash, size_t imageLength,
                                        bool verify)
{
    size_t end = (imageLength + 63) / 64 * 64;
    std::vector<CBoardFrame> frames = EraseFrames;
    frames.push_back(Frame(0x00, 0, 0));
    Append(frames, EnterBypassFrames);
    for (size_t address = 0; address < end; ++address)
    {
        frames.push_back(Cycle(0x333, 0xA0));
        frames.push_back(Frame(0xC0, static_cast<uint32_t>(address), flash[address]));
    }
    Append(frames, LeaveBypassFrames);
    for (size_t address = 0; verify && address < end; ++address)
    {
        frames.push_back(Frame(0x00, static_cast<uint32_t>(address), 0));
    }
    return frames;
}

class DownloadTest : public ::testing::Test
{
  protected:
    std::string Image(const std::vector<uint8_t>& plain)
    {
        std::string path = Files.File("image.img");
        EXPECT_TRUE(WriteImageFile(path, plain));
        return path;
    }

    // Runs orbelt-dl against a fresh board and stops the board so that dump and trace exist.
    CProcessResult Run(const std::vector<std::string>& boardOptions,
                       const std::vector<std::string>& arguments, double timeoutSeconds = 60,
                       int exitCode = 1)
    {
        EXPECT_TRUE(Board.Start(boardOptions));
        CProcessResult result = RunDownloader(arguments, Board.Device(), 7, timeoutSeconds);
        EXPECT_TRUE(Board.Stop()) << Board.Stderr();
        EXPECT_TRUE(result.ExitedWith(exitCode)) << result.Describe();
        return result;
    }

    // A board whose flash holds what a download of plain leaves.
    std::vector<std::string> Programmed(const std::vector<uint8_t>& plain)
    {
        EXPECT_TRUE(WriteFileBytes(Files.File("flash.bin"), FlashAfterDownload(plain)));
        return {"--erase-ms", "0", "--image", Files.File("flash.bin")};
    }

    CTempDirectory Files;
    CBoardProcess Board;
};

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
    EXPECT_EQ(Board.TraceFrames().size(), 3u) << "the sequence stops at the unanswered cycle";
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
    ASSERT_EQ(frames.size(), 11u);
    EXPECT_TRUE(std::vector<CBoardFrame>(frames.begin() + 9, frames.end()) == LeaveBypassFrames);
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
    // The failing block's frames all went out, then only the cycles that leave bypass mode.
    std::vector<CBoardFrame> frames = Board.TraceFrames();
    ASSERT_EQ(frames.size(), 6u + 1 + 3 + 3 * 128 + 2);
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
    usleep(2500000);
    EXPECT_EQ(ConsoleBody(downloader.Stdout()), "Erase               +++");
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
    EXPECT_EQ(Board.TraceFrames().size(), 6u + 35);
}

namespace
{

std::string OkEndingWith(const std::string& verdict)
{
    return OkEnding.substr(0, OkEnding.rfind('\n') + 1) + verdict;
}

class StreamModeTest : public DownloadTest
{
  protected:
    struct CRun
    {
        std::string Console;
        std::vector<uint8_t> Trace;
    };

    // The same download on a fresh board each, with the arguments as given and with --stream.
    void RunBoth(const std::vector<std::string>& boardOptions,
                 const std::vector<std::string>& arguments, CRun& plain, CRun& streamed)
    {
        std::vector<std::string> streamArguments{"--stream"};
        streamArguments.insert(streamArguments.end(), arguments.begin(), arguments.end());
        plain = RunOnce(boardOptions, arguments);
        streamed = RunOnce(boardOptions, streamArguments);
    }

    CRun RunOnce(const std::vector<std::string>& boardOptions,
                 const std::vector<std::string>& arguments)
    {
        CBoardProcess board;
        EXPECT_TRUE(board.Start(boardOptions));
        CProcessResult result = RunDownloader(arguments, board.Device());
        EXPECT_TRUE(board.Stop()) << board.Stderr();
        EXPECT_TRUE(result.ExitedWith(1)) << result.Describe();
        return {ConsoleBody(result.Out), board.Trace()};
    }
};

class StreamModeSuccessTest : public StreamModeTest,
                              public ::testing::WithParamInterface<const char*>
{
};

// Erasures of the one-second polls that saw the chip erased at poll number polls - 1.
std::string EraseMarks(int polls)
{
    std::string line = "Erase               " + std::string(static_cast<size_t>(polls), '+');
    for (int i = 0; i < polls; ++i)
    {
        line += "\b \b";
    }
    return line + "\b\b\b Ok\n";
}

} // namespace

TEST_F(DownloadTest, ReadBackIsTheImageFileOfTheFlash)
{
    std::vector<uint8_t> plain = PlainImage(4000, 3);
    ASSERT_TRUE(Board.Start(Programmed(plain)));
    std::string whole = Files.File("whole.img");
    std::string part = Files.File("part.img");
    CProcessResult wholeRun = RunDownloader({"--read", whole, "-p", "7"}, Board.Device());
    CProcessResult partRun =
        RunDownloader({"-p", "7", "--read", part, "--size", "100"}, Board.Device());
    ASSERT_TRUE(Board.Stop()) << Board.Stderr();

    const std::string saved =
        "Time  <t>\n" + OkEndingWith("Flash saved, press any key to continue");
    EXPECT_TRUE(wholeRun.ExitedWith(1)) << wholeRun.Describe();
    EXPECT_EQ(ConsoleBody(wholeRun.Out), StageLine("Read", 131072) + saved);
    EXPECT_EQ(ConsoleBody(partRun.Out), StageLine("Read", 100) + saved);
    ASSERT_TRUE(WriteImageFile(Files.File("expected.img"), FlashAfterDownload(plain)));
    EXPECT_TRUE(ReadFileBytes(whole) == ReadFileBytes(Files.File("expected.img")));
    ASSERT_TRUE(WriteImageFile(Files.File("expected100.img"),
                               std::vector<uint8_t>(plain.begin(), plain.begin() + 100)));
    EXPECT_TRUE(ReadFileBytes(part) == ReadFileBytes(Files.File("expected100.img")));
    // Read frames only, whole blocks, from address 0: the flash is never written.
    std::vector<CBoardFrame> frames = Board.TraceFrames();
    ASSERT_EQ(frames.size(), 131072u + 128);
    for (size_t i = 0; i < frames.size(); ++i)
    {
        ASSERT_TRUE(frames[i] == Frame(0x00, static_cast<uint32_t>(i % 131072), 0)) << i;
    }
}

// --read /dev/stdout with standard output redirected to a file: the image goes through the
// descriptor, between the console's time line and its banner, and /dev/stdout stays a link (the
// tests run as root, where a rename over it would break it for every process).
TEST_F(DownloadTest, ReadBackToStandardOutputGoesThroughTheDescriptor)
{
    std::vector<uint8_t> plain = PlainImage(100, 5);
    ASSERT_TRUE(Board.Start(Programmed(plain)));
    const std::string captured = Files.File("captured.out");
    CProcessOptions options;
    options.Environment.push_back("ORBELT_COM7=" + Board.Device());
    CProcessResult result =
        RunProcess({"/bin/sh", "-c", "exec \"$0\" -p 7 --read /dev/stdout --size 100 > \"$1\"",
                    ORBELT_DL_PATH, captured},
                   options);
    ASSERT_TRUE(Board.Stop()) << Board.Stderr();
    EXPECT_TRUE(result.ExitedWith(1)) << result.Describe();
    ASSERT_TRUE(WriteImageFile(Files.File("expected.img"), plain));
    EXPECT_EQ(ConsoleBody(ReadFileText(captured)),
              StageLine("Read", 100) + "Time  <t>\n" + ReadFileText(Files.File("expected.img")) +
                  OkEndingWith("Flash saved, press any key to continue"));
    char link[64] = {};
    EXPECT_GT(readlink("/dev/stdout", link, sizeof link - 1), 0) << "/dev/stdout is no link";
}

TEST_F(DownloadTest, ReadFromABoardThatStopsAnsweringLeavesNoFile)
{
    std::string back = Files.File("back.img");
    CProcessResult result = Run({"--stop-after", "200"}, {"-p", "7", "--read", back});
    EXPECT_EQ(ConsoleBody(result.Out),
              StageUpTo("Read", 131072, 3) + ErrorMarker + "Time  <t>\n" + NgEnding);
    EXPECT_FALSE(FileExists(back));
    EXPECT_TRUE(std::filesystem::is_empty(Files.Path())) << "a temporary file was left";
}

// A file the run cannot write is found before the board is touched, not after a whole read
// or download.
TEST_F(DownloadTest, FilesThatCannotBeWrittenAreRefusedBeforeTheBoardIsTouched)
{
    const std::string folder = Files.Path();
    const std::string missing = Files.File("missing") + "/file";
    const std::string image = Image(PlainImage(100));
    const struct
    {
        std::vector<std::string> Arguments;
        std::string Diagnostic;
    } cases[] = {
        {{"--read", folder}, "cannot write " + folder + ": Is a directory"},
        {{"--read", missing}, "cannot write " + missing + ": No such file or directory"},
        {{"-v", image, "--result", folder},
         "cannot append the run record to " + folder + ": Is a directory"},
        {{"-v", image, "--result", missing},
         "cannot append the run record to " + missing + ": No such file or directory"},
    };
    ASSERT_TRUE(Board.Start(FastErase));
    for (const auto& row : cases)
    {
        std::vector<std::string> arguments = {"-p", "7"};
        arguments.insert(arguments.end(), row.Arguments.begin(), row.Arguments.end());
        CProcessResult result = RunDownloader(arguments, Board.Device(), 7, 10);
        EXPECT_TRUE(result.ExitedWith(1)) << result.Describe();
        EXPECT_EQ(ConsoleBody(result.Out), NgEnding) << row.Diagnostic;
        EXPECT_EQ(result.Err, "orbelt-dl: " + row.Diagnostic + "\n");
    }
    ASSERT_TRUE(Board.Stop()) << Board.Stderr();
    EXPECT_TRUE(Board.Trace().empty());
}

// A file-size limit makes the write fail instead of killing the program: the Save stage is NG,
// the record says why, and no temporary file is left.
TEST_F(DownloadTest, FileSizeLimitEndsAReadNgWithItsRecord)
{
    ASSERT_TRUE(Board.Start(FastErase));
    const std::string back = Files.File("back.img");
    const std::string record = Files.File("runs.jsonl");
    CProcessOptions options;
    options.Environment.push_back("ORBELT_COM7=" + Board.Device());
    CProcessResult result =
        RunProcess({"/bin/sh", "-c", "ulimit -f 16 && exec \"$0\" \"$@\"", ORBELT_DL_PATH, "-p",
                    "7", "--stream", "--size", "65536", "--read", back, "--result", record},
                   options);
    ASSERT_TRUE(Board.Stop()) << Board.Stderr();
    EXPECT_TRUE(result.ExitedWith(1)) << result.Describe();
    EXPECT_EQ(ConsoleBody(result.Out), StageLine("Read", 65536) + "Time  <t>\n" + NgEnding);
    EXPECT_EQ(result.Err, "orbelt-dl: cannot write " + back + ": File too large\n");
    const std::string line = ReadFileText(record);
    EXPECT_NE(line.find("\"failed_stage\":\"Save\",\"reason\":\"cannot write " + back +
                        ": File too large\""),
              std::string::npos)
        << line;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Files.Path()), {}), 1)
        << "only the record is there";
}

TEST_F(DownloadTest, EraseLeavesTheFlashErased)
{
    CProcessResult result =
        Run(Programmed(PlainImage(3000)), {"--erase", "-p", "7", "--no-wait"}, 10, 0);
    EXPECT_EQ(ConsoleBody(result.Out), EraseOkAtFirstPoll + "Time  <t>\n" +
                                           OkEndingWith("Chip erased, press any key to continue"));
    EXPECT_TRUE(Board.Dump() == std::vector<uint8_t>(BoardFlashSize, 0xFF));
    std::vector<CBoardFrame> frames = EraseFrames;
    frames.push_back(Frame(0x00, 0, 0));
    EXPECT_TRUE(Board.TraceFrames() == frames);
}

// The records of a good run, a failed one and one that found no port, read by a JSON parser;
// the CRC is checked against Python's own.
TEST_F(DownloadTest, ResultLinesAreJson)
{
    std::vector<uint8_t> plain = PlainImage(1000, 9);
    ASSERT_TRUE(WriteFileBytes(Files.File("plain.bin"), plain));
    std::string whole = Image(plain);
    std::string first = Files.File("first.img");
    ASSERT_TRUE(WriteImageFile(first, std::vector<uint8_t>(plain.begin(), plain.begin() + 64)));
    std::string record = Files.File("runs.jsonl");
    ASSERT_TRUE(Board.Start({"--erase-ms", "0", "--bad-cell", "100"}));
    CProcessResult ok =
        RunDownloader({"-v", "-p", "7", first, "--result", record, "--no-wait"}, Board.Device());
    CProcessResult failed =
        RunDownloader({"--result", record, "-p", "7", whole, "--no-wait"}, Board.Device());
    CProcessResult noPort = RunDownloader({"--result", record, "-p", "7", whole}, "/nonexistent");
    ASSERT_TRUE(Board.Stop());
    EXPECT_TRUE(ok.ExitedWith(0)) << ok.Describe();
    EXPECT_TRUE(failed.ExitedWith(1)) << failed.Describe();
    EXPECT_TRUE(noPort.ExitedWith(1)) << noPort.Describe();

    const char* const check = R"(
import datetime, json, sys, zlib
plain = open(sys.argv[2], "rb").read()
text = open(sys.argv[1], encoding="utf-8").read()
assert text.endswith("\n")
for line in text.splitlines():
    run = json.loads(line)
    start = datetime.datetime.strptime(run.pop("start"), "%Y-%m-%dT%H:%M:%S.%fZ")
    assert abs(datetime.datetime.utcnow() - start).total_seconds() < 120, start
    elapsed = run.pop("elapsed_seconds")
    assert isinstance(elapsed, float) and 0 <= elapsed < 20, elapsed
    assert run.pop("image_crc32") == "%08x" % zlib.crc32(plain[:run["image_length"]])
    print(json.dumps(run, sort_keys=True))
)";
    CProcessResult parsed =
        RunProcess({"/usr/bin/python3", "-c", check, record, Files.File("plain.bin")});
    ASSERT_TRUE(parsed.ExitedWith(0)) << parsed.Describe();
    // Keys in sorted order: device, failed_stage, image, image_length, mode, port, reason,
    // result, version.
    auto line = [](const std::string& device, const std::string& stage, const std::string& image,
                   int length, const std::string& mode, const std::string& reason,
                   const std::string& result)
    {
        return "{\"device\": \"" + device + "\", \"failed_stage\": " + stage + ", \"image\": \"" +
               image + "\", \"image_length\": " + std::to_string(length) + ", \"mode\": \"" + mode +
               "\", \"port\": 7, \"reason\": " + reason + ", \"result\": \"" + result +
               "\", \"version\": \"" ORBELT_VERSION "\"}\n";
    };
    char reason[80];
    snprintf(reason, sizeof reason,
             "\"program error at 0x000064: third reply byte 0x%02X, expected 0x%02X\"",
             plain[100] ^ 1, plain[100]);
    EXPECT_EQ(parsed.Out,
              line(Board.Device(), "null", first, 64, "program-verify", "null", "OK") +
                  line(Board.Device(), "\"Program\"", whole, 1000, "program", reason, "NG") +
                  line("/nonexistent", "\"Port\"", whole, 1000, "program",
                       "\"cannot open /nonexistent: No such file or directory\"", "NG"));
}

TEST_P(StreamModeSuccessTest, ConsoleAndWireAreThoseOfTheDefaultMode)
{
    const std::string mode = GetParam();
    const std::vector<uint8_t> plain = PlainImage(1000);
    ASSERT_TRUE(WriteFileBytes(Files.File("flash.bin"), FlashAfterDownload(plain)));
    std::vector<std::string> arguments{"-p", "7", Image(plain)};
    if (!mode.empty())
    {
        arguments.insert(arguments.begin(), mode);
    }
    CRun plainRun;
    CRun streamed;
    RunBoth({"--erase-ms", "0", "--image", Files.File("flash.bin")}, arguments, plainRun, streamed);
    EXPECT_EQ(streamed.Console, plainRun.Console);
    EXPECT_NE(streamed.Console.find(OkEnding), std::string::npos) << streamed.Console;
    EXPECT_TRUE(streamed.Trace == plainRun.Trace) << streamed.Trace.size() << " bytes on the wire";
}

INSTANTIATE_TEST_SUITE_P(Modes, StreamModeSuccessTest, ::testing::Values("-v", "", "-vo"));

TEST_F(StreamModeTest, ReadBackMismatchPrintsWhatTheDefaultModePrints)
{
    CRun plainRun;
    CRun streamed;
    RunBoth({"--erase-ms", "0", "--bad-cell", "330"}, {"-v", "-p", "7", Image(PlainImage(1000))},
            plainRun, streamed);
    EXPECT_EQ(streamed.Console, plainRun.Console);
    EXPECT_NE(streamed.Console.find("Program Error\n" + ErrorMarker), std::string::npos);
    // The block after the failing one may have gone out too, and no more; both runs end with
    // the two cycles that leave unlock bypass.
    const size_t leaveBypass = 10;
    ASSERT_GE(plainRun.Trace.size(), leaveBypass);
    ASSERT_GE(streamed.Trace.size(), plainRun.Trace.size());
    EXPECT_LE(streamed.Trace.size(), plainRun.Trace.size() + 640);
    EXPECT_TRUE(std::equal(plainRun.Trace.begin(), plainRun.Trace.end() - leaveBypass,
                           streamed.Trace.begin()));
    EXPECT_TRUE(std::equal(plainRun.Trace.end() - leaveBypass, plainRun.Trace.end(),
                           streamed.Trace.end() - leaveBypass));
}

TEST_F(StreamModeTest, BoardThatStopsInTheMiddleOfABlockEndsLikeTheDefaultMode)
{
    // 10 frames before the program stage, then 128 a block: this is the middle of block 3.
    CRun plainRun;
    CRun streamed;
    RunBoth({"--erase-ms", "0", "--stop-after", "458"}, {"-v", "-p", "7", Image(PlainImage(1000))},
            plainRun, streamed);
    EXPECT_EQ(streamed.Console, plainRun.Console);
    EXPECT_EQ(streamed.Console, EraseOkAtFirstPoll + StageUpTo("Program", 1000, 3) + ErrorMarker +
                                    "Time  <t>\n" + NgEnding);
}

TEST_F(StreamModeTest, EraseMarksAreThoseOfTheOneSecondPolls)
{
    // The one-second polls would see these erase times at their first, third and fourth poll.
    for (const auto& [eraseMs, marks] : {std::pair{"0", 1}, {"1500", 3}, {"2400", 4}})
    {
        CRun run = RunOnce({"--erase-ms", eraseMs}, {"--stream", "-p", "7", Image(PlainImage(64))});
        EXPECT_EQ(run.Console,
                  EraseMarks(marks) + StageLine("Program", 64) + "Time  <t>\n" + OkEnding)
            << eraseMs << " ms";
        // Polls every 100 ms: reads of address 0 right after the six erase cycles.
        const std::vector<CBoardFrame> frames = SplitFrames(run.Trace);
        size_t polls = 0;
        while (6 + polls < frames.size() && frames[6 + polls] == Frame(0x00, 0, 0))
        {
            ++polls;
        }
        EXPECT_GE(polls, std::stoul(eraseMs) / 100 / 2 + 1) << eraseMs << " ms";
    }
}

// Read-back streams like verify: the same file, console and frames, without the adapter's
// latency per block.
TEST_F(StreamModeTest, ReadBackStreamsAtLineRate)
{
    std::vector<uint8_t> plain = PlainImage(8192, 12);
    ASSERT_TRUE(WriteFileBytes(Files.File("flash.bin"), FlashAfterDownload(plain)));
    const std::vector<std::string> board{"--latency-ms", "16", "--image", Files.File("flash.bin")};
    double seconds[2] = {};
    CRun runs[2];
    for (int streamed = 0; streamed < 2; ++streamed)
    {
        std::string file = Files.File(streamed ? "streamed.img" : "plain.img");
        std::vector<std::string> arguments{"-p", "7", "--read", file, "--size", "8192"};
        if (streamed)
        {
            arguments.push_back("--stream");
        }
        double start = MonotonicSeconds();
        runs[streamed] = RunOnce(board, arguments);
        seconds[streamed] = MonotonicSeconds() - start;
        ASSERT_TRUE(WriteImageFile(Files.File("expected.img"), plain));
        EXPECT_TRUE(ReadFileBytes(file) == ReadFileBytes(Files.File("expected.img")));
    }
    EXPECT_EQ(runs[1].Console, runs[0].Console);
    EXPECT_EQ(runs[1].Console.rfind(StageLine("Read", 8192), 0), 0u) << runs[1].Console;
    EXPECT_TRUE(runs[1].Trace == runs[0].Trace);
    // 128 blocks wait 16 ms each for their last partial packet without --stream.
    EXPECT_GE(seconds[0], 128 * 0.016);
    EXPECT_LT(seconds[1], seconds[0] / 2) << seconds[1] << " s streamed, " << seconds[0] << " s";
}

namespace
{

// An image with whole blank blocks, a blank run inside a block and scattered bytes of 0xFF.
std::vector<uint8_t> HalfBlankImage()
{
    std::vector<uint8_t> plain = PlainImage(1000);
    std::fill(plain.begin() + 128, plain.begin() + 320, 0xFF);
    std::fill(plain.begin() + 400, plain.begin() + 410, 0xFF);
    for (size_t i = 500; i < plain.size(); i += 7)
    {
        plain[i] = 0xFF;
    }
    return plain;
}

// The frames of a download without the program pairs of the bytes of 0xFF.
std::vector<CBoardFrame> WithoutBlankPairs(const std::vector<CBoardFrame>& frames)
{
    std::vector<CBoardFrame> kept;
    for (size_t i = 0; i < frames.size(); ++i)
    {
        const bool blankPair = i + 1 < frames.size() && frames[i] == Cycle(0x333, 0xA0) &&
                               frames[i + 1][0] == 0xC0 && frames[i + 1][4] == 0xFF;
        if (blankPair)
        {
            ++i;
            continue;
        }
        kept.push_back(frames[i]);
    }
    return kept;
}

} // namespace

// --skip-blank --stream: the console of the default mode, the same flash, no program pair for a
// byte of 0xFF, and the run record counts them.
TEST_F(StreamModeTest, SkipBlankSendsNoPairForABlankByte)
{
    const std::vector<uint8_t> plain = HalfBlankImage();
    const std::string image = Image(plain);
    const std::string record = Files.File("runs.jsonl");
    const CRun plainRun = RunOnce(FastErase, {"-v", "-p", "7", image});
    CProcessResult skipping =
        Run(FastErase, {"-v", "--skip-blank", "--stream", "-p", "7", image, "--result", record});

    EXPECT_EQ(ConsoleBody(skipping.Out), plainRun.Console);
    EXPECT_NE(plainRun.Console.find(OkEnding), std::string::npos) << plainRun.Console;
    const std::vector<uint8_t> flash = FlashAfterDownload(plain);
    EXPECT_TRUE(Board.Dump() == flash) << "flash differs from the descrambled image";
    const std::vector<CBoardFrame> all = DownloadFrames(flash, plain.size(), true);
    EXPECT_TRUE(SplitFrames(plainRun.Trace) == all);
    const std::vector<CBoardFrame> frames = Board.TraceFrames();
    EXPECT_TRUE(frames == WithoutBlankPairs(all)) << frames.size() << " frames on the wire";
    const auto blank = std::count(flash.begin(), flash.begin() + 1024, 0xFF);
    EXPECT_EQ(all.size() - frames.size(), 2u * static_cast<size_t>(blank));
    EXPECT_NE(ReadFileText(record).find(",\"skipped_bytes\":" + std::to_string(blank) + "}\n"),
              std::string::npos)
        << ReadFileText(record);
}

// A cell that reads wrong inside a blank run is not programmed, but verify still finds it.
TEST_F(DownloadTest, SkipBlankStillVerifiesTheBlankBytes)
{
    CProcessResult result = Run({"--erase-ms", "0", "--bad-cell", "140"},
                                {"-v", "--skip-blank", "-p", "7", Image(HalfBlankImage())});
    EXPECT_EQ(ConsoleBody(result.Out), EraseOkAtFirstPoll + StageLine("Program", 1000) +
                                           StageUpTo("Verify", 1000, 2) + ErrorMarker +
                                           "Time  <t>\n" + NgEnding);
    EXPECT_EQ(result.Err, "orbelt-dl: verify mismatch at 0x00008C: expected 0xFF, read 0xFE\n");
}
