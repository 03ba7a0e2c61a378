// --stream and --skip-blank end to end: the console and the wire of the default mode, fewer
// frames where the image is blank.
#include "tests/e2e/DownloadFixture.h"

#include <algorithm>
#include <filesystem>

namespace
{

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
    // the frames that realign the board and the two cycles that leave unlock bypass.
    const size_t leaveBypass = 20;
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
