#include "tests/board/BoardTest.h"

#include <csignal>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

class BoardFrames : public BoardTest
{
};

TEST_F(BoardFrames, ReadFramesReturnTheImageAndErasedBeyondIt)
{
    const std::vector<uint8_t> image = Pattern(1000);
    ASSERT_TRUE(WriteFileBytes(Files.File("image.bin"), image));
    ASSERT_TRUE(StartBoard({"--image", Files.File("image.bin")}));
    const std::vector<uint8_t> reply =
        Exchange(Join({MakeFrame(0x00, 0, 0), MakeFrame(0x00, 999, 0), MakeFrame(0x00, 1000, 0),
                       MakeFrame(0x00, 0x1FFFF, 0), MakeFrame(0x00, 0x020005, 0x77)}),
                 5);
    EXPECT_EQ(reply, (std::vector<uint8_t>{image[0], image[999], 0xFF, 0xFF, image[5]}));
    ExpectSilence();
    std::vector<uint8_t> expected(BoardFlashSize, 0xFF);
    std::copy(image.begin(), image.end(), expected.begin());
    EXPECT_EQ(StopAndDump(), expected);
}

TEST_F(BoardFrames, WriteCycleIsAcknowledgedWithZero)
{
    ASSERT_TRUE(StartBoard());
    EXPECT_EQ(Exchange(MakeFrame(0x80, 0x1234, 0x00), 1), std::vector<uint8_t>{0x00});
    ExpectSilence();
}

TEST_F(BoardFrames, AckOptionChoosesTheAcknowledgement)
{
    ASSERT_TRUE(StartBoard({"--ack", "0x5A"}));
    EXPECT_EQ(Exchange(Join({MakeFrame(0x80, 0x555, 0xAA), MakeFrame(0x00, 0, 0)}), 2),
              (std::vector<uint8_t>{0x5A, 0xFF}));
    EXPECT_EQ(Exchange(MakeProgramPair(0x10, 0x42), 3), (std::vector<uint8_t>{0x5A, 0x5A, 0xFF}))
        << "outside bypass mode the pair programs nothing";
}

TEST_F(BoardFrames, BypassProgrammingEndsUpInTheDump)
{
    ASSERT_TRUE(StartBoard());
    EXPECT_EQ(Exchange(EnterBypass(), 3), (std::vector<uint8_t>{0, 0, 0}));
    const std::vector<uint8_t> data = Pattern(300);
    std::vector<uint8_t> pairs;
    std::vector<uint8_t> expectedReply;
    for (size_t i = 0; i < data.size(); ++i)
    {
        const std::vector<uint8_t> pair =
            MakeProgramPair(0x1F000 + static_cast<uint32_t>(i), data[i]);
        pairs.insert(pairs.end(), pair.begin(), pair.end());
        expectedReply.insert(expectedReply.end(), {0x00, 0x00, data[i]});
    }
    // The whole batch goes out before any reply is read, as the host does.
    EXPECT_EQ(Exchange(pairs, expectedReply.size()), expectedReply);
    EXPECT_EQ(Exchange(Join({MakeFrame(0x80, 0, 0x90), MakeFrame(0x80, 0, 0x00)}), 2),
              (std::vector<uint8_t>{0, 0}));
    EXPECT_EQ(Exchange(MakeProgramPair(0x10, 0x00), 3), (std::vector<uint8_t>{0, 0, 0xFF}))
        << "bypass mode has been left";
    ExpectSilence();

    std::vector<uint8_t> expected(BoardFlashSize, 0xFF);
    std::copy(data.begin(), data.end(), expected.begin() + 0x1F000);
    EXPECT_EQ(StopAndDump(), expected);
}

TEST_F(BoardFrames, PlainProgramOverUnerasedDataReadsBackTheAnd)
{
    ASSERT_TRUE(WriteFileBytes(Files.File("image.bin"), {0x0F, 0x3C}));
    ASSERT_TRUE(StartBoard({"--image", Files.File("image.bin")}));
    const std::vector<uint8_t> reply =
        Exchange(Join({Unlock(), MakeFrame(0x80, 0x555, 0xA0), MakeFrame(0xC0, 1, 0xF0)}), 5);
    EXPECT_EQ(reply, (std::vector<uint8_t>{0, 0, 0, 0, 0x30}));
    const std::vector<uint8_t> dump = StopAndDump();
    ASSERT_EQ(dump.size(), BoardFlashSize);
    EXPECT_EQ(dump[0], 0x0F);
    EXPECT_EQ(dump[1], 0x30);
}

TEST_F(BoardFrames, ChipEraseReportsStatusThenReadsErased)
{
    ASSERT_TRUE(WriteFileBytes(Files.File("image.bin"), Pattern(5000)));
    ASSERT_TRUE(StartBoard({"--image", Files.File("image.bin"), "--erase-ms", "300"}));
    EXPECT_EQ(Exchange(ChipErase(), 6), std::vector<uint8_t>(6, 0x00));
    const std::vector<uint8_t> status =
        Exchange(Join({MakeFrame(0x00, 0, 0), MakeFrame(0x00, 0, 0), MakeFrame(0x00, 77, 0)}), 3);
    for (uint8_t value : status)
    {
        EXPECT_EQ(value & 0x80, 0) << "DQ7 of 0x" << std::hex << int{value};
    }
    EXPECT_EQ((status[0] ^ status[1]) & 0x40, 0x40);
    EXPECT_EQ((status[1] ^ status[2]) & 0x40, 0x40);
    EXPECT_TRUE(WaitUntil(
        [&] { return Exchange(MakeFrame(0x00, 0, 0), 1) == std::vector<uint8_t>{0xFF}; }, 5));
    EXPECT_EQ(Exchange(Join({MakeFrame(0x00, 0, 0), MakeFrame(0x00, 4999, 0)}), 2),
              (std::vector<uint8_t>{0xFF, 0xFF}));
    EXPECT_EQ(StopAndDump(), std::vector<uint8_t>(BoardFlashSize, 0xFF));
}

TEST_F(BoardFrames, UnknownCommandIsLoggedAndGetsNoAnswer)
{
    ASSERT_TRUE(StartBoard());
    ASSERT_TRUE(Host.Write(MakeFrame(0x41, 0x123456, 0x78)));
    ExpectSilence();
    // Still aligned on frames and still alive.
    EXPECT_EQ(Exchange(Join({MakeFrame(0xFF, 0, 0), MakeFrame(0x80, 0, 0)}), 1),
              std::vector<uint8_t>{0x00});
    EXPECT_TRUE(Board.Running());
    EXPECT_NE(Board.Stderr().find("unknown command 0x41"), std::string::npos) << Board.Stderr();
}

TEST_F(BoardFrames, FramesSplitAcrossWritesAreReassembled)
{
    ASSERT_TRUE(WriteFileBytes(Files.File("image.bin"), Pattern(200)));
    ASSERT_TRUE(StartBoard({"--image", Files.File("image.bin")}));
    std::vector<uint8_t> frames;
    std::vector<uint8_t> expected;
    for (uint32_t i = 0; i < 128; ++i)
    {
        const std::vector<uint8_t> frame = MakeFrame(0x00, i, 0);
        frames.insert(frames.end(), frame.begin(), frame.end());
        expected.push_back(Pattern(200)[i]);
    }
    std::vector<uint8_t> reply;
    // Pieces of 1, 2, 3, ... bytes, with pauses, so the board sees frames cut anywhere.
    size_t at = 0;
    for (size_t piece = 1; at < frames.size(); ++piece)
    {
        const size_t length = std::min(piece % 13 + 1, frames.size() - at);
        ASSERT_TRUE(
            Host.Write(std::vector<uint8_t>(frames.begin() + at, frames.begin() + at + length)));
        at += length;
        if (piece % 4 == 0)
        {
            Pause(0.002);
        }
    }
    ASSERT_TRUE(Host.ReadExact(expected.size(), reply));
    EXPECT_EQ(reply, expected);
    ExpectSilence();
}

TEST_F(BoardFrames, TraceHoldsEveryByteTheHostSent)
{
    ASSERT_TRUE(StartBoard());
    const std::vector<uint8_t> sent =
        Join({EnterBypass(), MakeFrame(0x13, 1, 2), MakeProgramPair(5, 6)});
    ASSERT_TRUE(Host.Write(std::vector<uint8_t>(sent.begin(), sent.begin() + 7)));
    Pause(0.02);
    EXPECT_EQ(Exchange(std::vector<uint8_t>(sent.begin() + 7, sent.end()), 6),
              (std::vector<uint8_t>{0, 0, 0, 0, 0, 6}));
    ASSERT_TRUE(Host.Write({0xC0, 0x01})); // half a frame, never finished
    Pause(0.05);
    Host.Close();
    ASSERT_TRUE(Board.Stop());
    std::vector<uint8_t> expected = sent;
    expected.insert(expected.end(), {0xC0, 0x01});
    EXPECT_EQ(Board.Trace(), expected);
    const std::vector<CBoardFrame> frames = Board.TraceFrames();
    ASSERT_EQ(frames.size(), 6u);
    EXPECT_EQ(frames[3], (CBoardFrame{0x13, 1, 0, 0, 2}));
    EXPECT_EQ(frames[5], (CBoardFrame{0xC0, 5, 0, 0, 6}));
}

TEST_F(BoardFrames, HostWritingOnWhileRepliesPileUpLosesNothing)
{
    const std::vector<uint8_t> image = Pattern(BoardFlashSize);
    ASSERT_TRUE(WriteFileBytes(Files.File("image.bin"), image));
    ASSERT_TRUE(StartBoard({"--image", Files.File("image.bin")}));
    // 100 KB of frames sent before a single reply is read: the 20 KB of replies overflow the
    // device's input queue, and the board must keep taking frames in meanwhile.
    std::vector<uint8_t> frames;
    std::vector<uint8_t> expected;
    for (uint32_t i = 0; i < 20000; ++i)
    {
        const uint32_t address = static_cast<uint32_t>(i * size_t{6} % BoardFlashSize);
        const std::vector<uint8_t> frame = MakeFrame(0x00, address, 0);
        frames.insert(frames.end(), frame.begin(), frame.end());
        expected.push_back(image[address]);
    }
    ASSERT_TRUE(Host.Write(frames));
    std::vector<uint8_t> reply;
    ASSERT_TRUE(Host.ReadExact(expected.size(), reply, 10)) << reply.size();
    EXPECT_EQ(reply, expected);
    ExpectSilence();
}

TEST_F(BoardFrames, NoiseNeitherStopsNorMisalignsTheBoard)
{
    ASSERT_TRUE(StartBoard());
    std::vector<uint8_t> noise(size_t{5} * 10000);
    size_t expectedReplies = 0;
    uint32_t state = 12345;
    for (size_t i = 0; i < noise.size(); ++i)
    {
        state = state * 1103515245 + 12345;
        noise[i] = static_cast<uint8_t>(state >> 16);
        // Some frames are real commands, most are not.
        if (i % 5 == 0 && (state >> 24) % 4 == 0)
        {
            noise[i] = static_cast<uint8_t>((state >> 26) % 2 == 0 ? 0x00 : 0xC0);
        }
        if (i % 5 == 0)
        {
            expectedReplies += noise[i] == 0x00 || noise[i] == 0x80 ? 1 : noise[i] == 0xC0 ? 2 : 0;
        }
    }
    ASSERT_TRUE(Host.Write(noise));
    std::vector<uint8_t> reply;
    ASSERT_TRUE(Host.ReadExact(expectedReplies, reply, 10))
        << reply.size() << " of " << expectedReplies;
    EXPECT_EQ(Exchange(MakeFrame(0x80, 0, 0), 1), std::vector<uint8_t>{0x00});
    ExpectSilence();
    EXPECT_TRUE(Board.Running());
}

class BoardFaults : public BoardTest
{
};

TEST_F(BoardFaults, StopAfterAnswersOnlyTheFirstFrames)
{
    ASSERT_TRUE(StartBoard({"--stop-after", "2"}));
    ASSERT_TRUE(Host.Write(Join({MakeFrame(0x80, 0, 0), MakeFrame(0x00, 0, 0),
                                 MakeFrame(0x80, 0, 0), MakeFrame(0x00, 0, 0)})));
    std::vector<uint8_t> reply = Host.ReadUntilQuiet(0.2);
    EXPECT_EQ(reply, (std::vector<uint8_t>{0x00, 0xFF}));
    ASSERT_TRUE(Host.Write(MakeFrame(0x00, 0, 0)));
    ExpectSilence();
    EXPECT_TRUE(Board.Running());
    Host.Close();
    ASSERT_TRUE(Board.Stop());
    EXPECT_EQ(Board.TraceFrames().size(), 5u) << "the stopped board still takes the bytes in";
}

TEST_F(BoardFaults, VanishAfterRemovesTheDeviceAndExits)
{
    const std::string link = Files.File("port");
    ASSERT_TRUE(StartBoard({"--vanish-after", "3", "--link", link}));
    ASSERT_TRUE(
        Host.Write(Join({EnterBypass(), MakeFrame(0x80, 0, 0xA0), MakeFrame(0xC0, 4, 0x00)})));
    std::vector<uint8_t> reply;
    EXPECT_FALSE(Host.ReadExact(5, reply, 2));
    EXPECT_EQ(reply, (std::vector<uint8_t>{0, 0, 0}));
    EXPECT_TRUE(Host.WaitHangUp(2));
    ASSERT_TRUE(Board.WaitExit(5));
    EXPECT_EQ(Board.ExitCode(), 0);
    EXPECT_FALSE(FileExists(link));
    EXPECT_FALSE(FileExists(Board.Device())) << "the device has gone away";
    const std::vector<uint8_t> dump = Board.Dump();
    ASSERT_EQ(dump.size(), BoardFlashSize);
    EXPECT_EQ(dump[4], 0xFF) << "frames after the vanish are not carried out";
    EXPECT_EQ(Board.TraceFrames().size(), 5u);
}

TEST_F(BoardFaults, BadCellReadsWrongEverywhereButStoresTheData)
{
    ASSERT_TRUE(StartBoard({"--bad-cell", "0x103", "--bad-cell", "7"}));
    Exchange(EnterBypass(), 3);
    EXPECT_EQ(Exchange(Join({MakeProgramPair(0x102, 0x40), MakeProgramPair(0x103, 0x40),
                             MakeFrame(0x00, 0x103, 0), MakeFrame(0x00, 7, 0),
                             MakeFrame(0x00, 0x102, 0)}),
                       9),
              (std::vector<uint8_t>{0, 0, 0x40, 0, 0, 0x41, 0x41, 0xFE, 0x40}));
    const std::vector<uint8_t> dump = StopAndDump();
    ASSERT_EQ(dump.size(), BoardFlashSize);
    EXPECT_EQ(dump[0x103], 0x40);
    EXPECT_EQ(dump[7], 0xFF);
}

TEST_F(BoardFaults, BadReadSpoilsOnlyReadFrames)
{
    ASSERT_TRUE(StartBoard({"--bad-read", "0x200"}));
    Exchange(EnterBypass(), 3);
    EXPECT_EQ(Exchange(Join({MakeProgramPair(0x200, 0x80), MakeFrame(0x00, 0x200, 0),
                             MakeFrame(0x00, 0x201, 0)}),
                       5),
              (std::vector<uint8_t>{0, 0, 0x80, 0x81, 0xFF}));
}

TEST_F(BoardFaults, ShortProgramDropsTheReadBackOfThatProgramFrame)
{
    ASSERT_TRUE(StartBoard({"--short-program", "2"}));
    Exchange(EnterBypass(), 3);
    ASSERT_TRUE(Host.Write(Join({MakeProgramPair(0, 0x11), MakeProgramPair(1, 0x22),
                                 MakeProgramPair(2, 0x33), MakeFrame(0x00, 1, 0)})));
    const std::vector<uint8_t> reply = Host.ReadUntilQuiet(0.2);
    EXPECT_EQ(reply, (std::vector<uint8_t>{0, 0, 0x11, 0, 0, 0, 0, 0x33, 0x22}));
    EXPECT_NE(Board.Stderr().find("answered short"), std::string::npos);
}

TEST_F(BoardFaults, SurplusBytesFollowTheNamedFrames)
{
    ASSERT_TRUE(StartBoard({"--surplus", "2:3", "--surplus=4:1"}));
    ASSERT_TRUE(
        Host.Write(Join({MakeFrame(0x00, 0, 0), MakeFrame(0x80, 0, 0), MakeFrame(0x00, 0, 0),
                         MakeFrame(0x55, 0, 0), MakeFrame(0x00, 0, 0)})));
    EXPECT_EQ(Host.ReadUntilQuiet(0.2),
              (std::vector<uint8_t>{0xFF, 0x00, 0xEE, 0xEE, 0xEE, 0xFF, 0xEE, 0xFF}));
}

TEST_F(BoardFaults, EraseNeverKeepsReportingStatus)
{
    ASSERT_TRUE(StartBoard({"--erase-never", "--erase-ms", "20"}));
    Exchange(ChipErase(), 6);
    Pause(0.2);
    const std::vector<uint8_t> status =
        Exchange(Join({MakeFrame(0x00, 0, 0), MakeFrame(0x00, 0, 0)}), 2);
    EXPECT_EQ(status[0] & 0x80, 0);
    EXPECT_EQ(status[1] & 0x80, 0);
    EXPECT_EQ((status[0] ^ status[1]) & 0x40, 0x40);
}

class BoardLifecycle : public BoardTest
{
};

TEST_F(BoardLifecycle, DeviceIsRawBeforeTheHostSetsItUp)
{
    ASSERT_TRUE(Board.Start());
    const int fd = open(Board.Device().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios settings{};
    ASSERT_EQ(tcgetattr(fd, &settings), 0);
    close(fd);
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(settings.c_oflag & OPOST, 0u);
    EXPECT_EQ(settings.c_iflag & (ICRNL | IXON), 0u);
}

TEST_F(BoardLifecycle, LinkPointsAtTheDeviceUntilExit)
{
    const std::string link = Files.File("ttyBOARD");
    ASSERT_TRUE(Board.Start({"--link", link}));
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), Board.Device());
    ASSERT_TRUE(Host.Open(link));
    EXPECT_EQ(Exchange(MakeFrame(0x80, 0, 0), 1), std::vector<uint8_t>{0x00});
    Host.Close();
    ASSERT_TRUE(Board.Stop());
    EXPECT_FALSE(FileExists(link));
}

TEST_F(BoardLifecycle, LinkOfALiveBoardIsNotTakenOver)
{
    const std::string link = Files.File("ttyBOARD");
    ASSERT_EQ(symlink("/dev/pts/nonexistent", link.c_str()), 0);
    ASSERT_TRUE(Board.Start({"--link", link})) << "a dangling link is replaced";
    CProcessOptions options;
    options.TimeoutSeconds = 5;
    const CProcessResult second = RunProcess({ORBELT_BOARD_PATH, "--link", link}, options);
    EXPECT_TRUE(second.ExitedWith(1)) << second.Describe();
    EXPECT_NE(second.Err.find("--link " + link + " points to " + Board.Device() + ", which exists"),
              std::string::npos)
        << second.Err;
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), Board.Device());
}

TEST_F(BoardLifecycle, SigintAlsoWritesTheDump)
{
    ASSERT_TRUE(StartBoard());
    Exchange(Join({EnterBypass(), MakeProgramPair(0x1FFFF, 0x12)}), 6);
    Host.Close();
    ASSERT_TRUE(Board.Process().SendSignal(SIGINT));
    ASSERT_TRUE(Board.WaitExit(5));
    EXPECT_EQ(Board.ExitCode(), 0);
    const std::vector<uint8_t> dump = Board.Dump();
    ASSERT_EQ(dump.size(), BoardFlashSize);
    EXPECT_EQ(dump[0x1FFFF], 0x12);
}

TEST_F(BoardLifecycle, ExitOnCloseWaitsForTheHostThenExitsWhenItCloses)
{
    ASSERT_TRUE(Board.Start({"--exit-on-close"}));
    Pause(0.1);
    EXPECT_TRUE(Board.Running()) << "nobody has opened the device yet";
    ASSERT_TRUE(Host.Open(Board.Device()));
    Host.Close();
    Pause(0.1);
    EXPECT_TRUE(Board.Running()) << "a host that never sent a byte has not begun";
    ASSERT_TRUE(Host.Open(Board.Device()));
    // Closing straight after writing: the board still carries the frames out.
    ASSERT_TRUE(Host.Write(Join({EnterBypass(), MakeProgramPair(0x20, 0x5A)})));
    Host.Close();
    ASSERT_TRUE(Board.WaitExit(5));
    EXPECT_EQ(Board.ExitCode(), 0);
    const std::vector<uint8_t> dump = Board.Dump();
    ASSERT_EQ(dump.size(), BoardFlashSize);
    EXPECT_EQ(dump[0x20], 0x5A);
}

TEST_F(BoardLifecycle, ReopenedDeviceGetsNoStaleReplies)
{
    ASSERT_TRUE(StartBoard());
    ASSERT_TRUE(
        Host.Write(Join({MakeFrame(0x80, 0, 0), MakeFrame(0x80, 0, 0), MakeFrame(0x80, 0, 0)})));
    Pause(0.05);
    Host.Close();
    Pause(0.05);
    ASSERT_TRUE(Host.Open(Board.Device()));
    EXPECT_EQ(Exchange(MakeFrame(0x00, 0, 0), 1), std::vector<uint8_t>{0xFF});
    ExpectSilence();
}

class BoardCommandLine : public ::testing::Test
{
};

TEST_F(BoardCommandLine, HelpPrintsUsage)
{
    const CProcessResult result = RunProcess({ORBELT_BOARD_PATH, "--help"}, {});
    ASSERT_TRUE(result.ExitedWith(0)) << result.Describe();
    EXPECT_EQ(result.Out.rfind("Usage: orbelt-board", 0), 0u) << result.Out;
    for (const char* option :
         {"--image", "--dump", "--trace", "--link", "--exit-on-close", "--baud", "--erase-ms",
          "--ack", "--latency-ms", "--stop-after", "--vanish-after", "--erase-never", "--bad-cell",
          "--bad-read", "--short-program", "--surplus", "--return-after-ms"})
    {
        EXPECT_NE(result.Out.find(option), std::string::npos) << option;
    }
}

TEST_F(BoardCommandLine, BadOptionsExitWithStatus2)
{
    CTempDirectory files;
    ASSERT_TRUE(WriteFileBytes(files.File("big.bin"), std::vector<uint8_t>(BoardFlashSize + 1)));
    // Each bad command line with the text its message must contain.
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"--frobnicate"}, "--frobnicate"},
        {{"--ack", "300"}, "--ack"},
        {{"--image", files.File("missing.bin")}, files.File("missing.bin")},
        {{"--image", files.File("big.bin")}, "larger"},
    };
    for (const auto& [arguments, message] : cases)
    {
        std::vector<std::string> argv{ORBELT_BOARD_PATH};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        CProcessOptions options;
        options.TimeoutSeconds = 10;
        const CProcessResult result = RunProcess(argv, options);
        EXPECT_TRUE(result.ExitedWith(2)) << arguments.back() << ": " << result.Describe();
        EXPECT_TRUE(result.Out.empty()) << "no device path from a board that never started";
        EXPECT_NE(result.Err.find(message), std::string::npos) << result.Err;
    }
}

class BoardPacing : public BoardTest
{
  protected:
    // Sends bytes at once and returns the seconds until count reply bytes have all arrived.
    double TimeExchange(const std::vector<uint8_t>& bytes, size_t count,
                        std::vector<uint8_t>& reply)
    {
        const double start = MonotonicSeconds();
        EXPECT_TRUE(Host.Write(bytes));
        EXPECT_TRUE(Host.ReadExact(count, reply, 10));
        return MonotonicSeconds() - start;
    }
};

static const double ByteSeconds115200 = 11.0 / 115200;

TEST_F(BoardPacing, RepliesOverlapTheIncomingStreamAtLineRate)
{
    ASSERT_TRUE(StartBoard({"--baud", "115200"}));
    std::vector<uint8_t> frames;
    for (uint32_t i = 0; i < 2000; ++i)
    {
        const std::vector<uint8_t> frame = MakeFrame(0x00, i, 0);
        frames.insert(frames.end(), frame.begin(), frame.end());
    }
    std::vector<uint8_t> reply;
    const double seconds = TimeExchange(frames, 2000, reply);
    EXPECT_EQ(reply, std::vector<uint8_t>(2000, 0xFF));
    // The last reply byte follows the last frame byte; half duplex would take 12000 byte times.
    const double expected = 10001 * ByteSeconds115200;
    EXPECT_GE(seconds, expected * 0.995);
    EXPECT_LE(seconds, expected * 1.03 + 0.03);
}

TEST_F(BoardPacing, TransmitSideKeepsTheLineRateToo)
{
    ASSERT_TRUE(StartBoard({"--baud", "115200", "--surplus", "1:4000"}));
    std::vector<uint8_t> reply;
    const double seconds = TimeExchange(MakeFrame(0x80, 0, 0), 4001, reply);
    EXPECT_EQ(reply.size(), 4001u);
    const double expected = (5 + 4001) * ByteSeconds115200;
    EXPECT_GE(seconds, expected * 0.995);
    EXPECT_LE(seconds, expected * 1.03 + 0.03);
}

TEST_F(BoardPacing, UnpacedBoardAnswersAtOnce)
{
    ASSERT_TRUE(StartBoard());
    std::vector<uint8_t> frames;
    for (uint32_t i = 0; i < 2000; ++i)
    {
        const std::vector<uint8_t> frame = MakeFrame(0x00, i, 0);
        frames.insert(frames.end(), frame.begin(), frame.end());
    }
    std::vector<uint8_t> reply;
    EXPECT_LT(TimeExchange(frames, 2000, reply), 0.3);
}

static std::vector<uint8_t> ReadFrames(uint32_t count)
{
    std::vector<uint8_t> frames;
    for (uint32_t i = 0; i < count; ++i)
    {
        const std::vector<uint8_t> frame = MakeFrame(0x00, i, 0);
        frames.insert(frames.end(), frame.begin(), frame.end());
    }
    return frames;
}

static const double LatencySeconds = 0.2;

TEST_F(BoardPacing, AdapterSendsAFullPacketAtOnceAndHoldsThePartialOneForItsTimer)
{
    ASSERT_TRUE(StartBoard({"--latency-ms", "200"}));
    const double start = MonotonicSeconds();
    ASSERT_TRUE(Host.Write(ReadFrames(63)));
    std::vector<uint8_t> reply;
    ASSERT_TRUE(Host.ReadExact(62, reply, 10));
    EXPECT_LT(MonotonicSeconds() - start, LatencySeconds) << "a full packet waits for no timer";
    ASSERT_TRUE(Host.ReadExact(1, reply, 10));
    const double seconds = MonotonicSeconds() - start;
    EXPECT_GE(seconds, LatencySeconds);
    EXPECT_LE(seconds, 3 * LatencySeconds);
    EXPECT_EQ(reply, std::vector<uint8_t>(63, 0xFF));
}

TEST_F(BoardPacing, PacedAdapterHoldsALoneReplyUntilTheTimerAfterThePacketBefore)
{
    ASSERT_TRUE(StartBoard({"--baud", "115200", "--latency-ms", "200"}));
    const double start = MonotonicSeconds();
    std::vector<uint8_t> reply;
    ASSERT_TRUE(Host.Write(ReadFrames(62)));
    ASSERT_TRUE(Host.ReadExact(62, reply, 10));
    const double lone = MonotonicSeconds();
    ASSERT_TRUE(Host.Write(MakeFrame(0x00, 0, 0)));
    ASSERT_TRUE(Host.ReadExact(1, reply, 10));
    const double end = MonotonicSeconds();
    // The packet that took the 62nd reply left when that reply was through the line at the
    // earliest; the lone reply waits for the timer after it.
    EXPECT_GE(end - start, (62 * 5 + 1) * ByteSeconds115200 + LatencySeconds);
    EXPECT_LE(end - lone, 3 * LatencySeconds);
}
