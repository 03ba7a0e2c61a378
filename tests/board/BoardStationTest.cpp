// The commands on orbelt-board's standard input that let one port see board after board: a
// board taken off the line, a new one put on, the device unplugged and plugged in again.
#include "tests/board/BoardTest.h"

#include <unistd.h>

static std::string LinkTarget(const std::string& link)
{
    char target[256] = {};
    const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<size_t>(length)) : std::string();
}

class BoardStation : public BoardTest
{
  protected:
    bool StartStation(const std::vector<std::string>& options = {})
    {
        return StartBoard(options, EStdin::Pipe);
    }
};

TEST_F(BoardStation, BoardOffLeavesFramesUnansweredAndUnservedButKeepsTheDevice)
{
    ASSERT_TRUE(StartStation());
    EXPECT_EQ(Exchange(EnterBypass(), 3), (std::vector<uint8_t>{0, 0, 0}));
    ASSERT_TRUE(Board.Control("off", "board off after 3 frames"));
    ASSERT_TRUE(Host.Write(Join({MakeProgramPair(0x10, 0x42), MakeFrame(0x00, 0x10, 0)})));
    ExpectSilence(0.3);
    EXPECT_FALSE(Host.WaitHangUp(0.05)) << "the device stays";
    ASSERT_TRUE(Board.Control("dump " + Files.File("off.bin"), "flash written to"));
    const std::vector<uint8_t> off = ReadFileBytes(Files.File("off.bin"));
    ASSERT_EQ(off.size(), BoardFlashSize);
    EXPECT_EQ(off[0x10], 0xFF) << "the program pair sent while off reached the flash";

    ASSERT_TRUE(Board.Control("on --image " + Files.File("missing.bin"), "no new board"));
    ExpectSilence(0.05);
    ASSERT_TRUE(Board.Control("on", "new board on: blank"));
    EXPECT_EQ(Exchange(MakeFrame(0x00, 0x10, 0), 1), std::vector<uint8_t>{0xFF});
    Host.Close();
    ASSERT_TRUE(Board.Stop());
    EXPECT_EQ(Board.TraceFrames().size(), 7u) << "the trace holds the frames sent while off too";
}

TEST_F(BoardStation, EachNewBoardHasItsOwnFlashAFreshChipAndItsOwnFaults)
{
    const std::vector<uint8_t> image = Pattern(0x40);
    ASSERT_TRUE(WriteFileBytes(Files.File("image.bin"), image));
    const std::string putOnImage = "on --image " + Files.File("image.bin");
    ASSERT_TRUE(StartStation({"--erase-ms", "0"}));
    // The first board is left in unlock-bypass mode.
    EXPECT_EQ(Exchange(Join({EnterBypass(), MakeProgramPair(0x10, 0x42)}), 6),
              (std::vector<uint8_t>{0, 0, 0, 0, 0, 0x42}));
    ASSERT_TRUE(Board.Control("dump " + Files.File("first.bin"), "flash written to"));

    // The second: read-array mode, so the pair programs nothing; its own bad cell; and its
    // chip erase, 60 s long, left running.
    ASSERT_TRUE(Board.Control(putOnImage + " --bad-cell 1 --erase-ms 60000", "new board on"));
    EXPECT_EQ(Exchange(Join({MakeProgramPair(0x10, 0x00), MakeFrame(0x00, 1, 0)}), 4),
              (std::vector<uint8_t>{0, 0, image[0x10], static_cast<uint8_t>(image[1] ^ 1)}));
    Exchange(ChipErase(), 6);
    EXPECT_EQ(Exchange(MakeFrame(0x00, 0, 0), 1)[0] & 0x80, 0) << "the erase runs";

    // The third: no erase running, and --stop-after counted from its own first frame.
    ASSERT_TRUE(Board.Control(putOnImage + " --stop-after 2", "new board on"));
    EXPECT_EQ(Exchange(Join({MakeFrame(0x00, 0, 0), MakeFrame(0x00, 1, 0)}), 2),
              (std::vector<uint8_t>{image[0], image[1]}));
    ASSERT_TRUE(Host.Write(MakeFrame(0x00, 0, 0)));
    ExpectSilence();

    const std::vector<uint8_t> first = ReadFileBytes(Files.File("first.bin"));
    ASSERT_EQ(first.size(), BoardFlashSize);
    EXPECT_EQ(first[0x10], 0x42);
    std::vector<uint8_t> third(BoardFlashSize, 0xFF);
    std::copy(image.begin(), image.end(), third.begin());
    EXPECT_EQ(StopAndDump(), third) << "--dump holds the flash of the board on the line at exit";
}

// The device goes (the host sees a hang-up, the link is removed) and comes back as a new
// pseudo-terminal at the same link, printed as a new line, with the same board behind it.
TEST_F(BoardStation, DeviceVanishesAndReturnsAtTheSameLink)
{
    struct SCase
    {
        const char* Name;
        std::vector<std::string> Options;
        bool ByCommand;
    };
    // Entering bypass mode and programming one byte takes 5 frames.
    const std::vector<SCase> cases{
        {"command", {}, true},
        {"fault", {"--vanish-after", "5", "--return-after-ms", "300"}, false},
    };
    for (const SCase& way : cases)
    {
        SCOPED_TRACE(way.Name);
        CBoardProcess board;
        CTerminal host;
        const std::string link = Files.File(way.Name);
        std::vector<std::string> options{"--link", link};
        options.insert(options.end(), way.Options.begin(), way.Options.end());
        ASSERT_TRUE(board.Start(options, 10, EStdin::Pipe));
        ASSERT_TRUE(host.Open(link));
        std::vector<uint8_t> reply;
        ASSERT_TRUE(host.Write(Join({EnterBypass(), MakeProgramPair(0x20, 0x5A)})));
        EXPECT_TRUE(host.ReadExact(6, reply));
        EXPECT_TRUE(way.ByCommand ? board.Control("vanish", "device gone")
                                  : board.WaitLog("device gone"));
        EXPECT_TRUE(host.WaitHangUp(2));
        EXPECT_FALSE(FileExists(link));
        host.Close();
        EXPECT_TRUE(way.ByCommand ? board.Control("return", "device back at")
                                  : board.WaitLog("device back at"));
        const std::vector<std::string> devices = board.Devices();
        ASSERT_EQ(devices.size(), 2u);
        EXPECT_EQ(devices[0], board.Device());
        EXPECT_EQ(LinkTarget(link), devices[1]);
        ASSERT_TRUE(host.Open(link));
        reply.clear();
        ASSERT_TRUE(host.Write(MakeFrame(0x00, 0x20, 0)));
        EXPECT_TRUE(host.ReadExact(1, reply));
        EXPECT_EQ(reply, std::vector<uint8_t>{0x5A});
        host.Close();
        EXPECT_TRUE(board.Stop()) << board.Process().Result().Describe();
        EXPECT_FALSE(FileExists(link));
    }
}

// Without commands standard input changes nothing: at its end, or closed from the start, the
// board goes on serving and does not spin.
TEST(BoardStandardInput, EndOfInputNeitherStopsNorBusiesTheBoard)
{
    const double idleSeconds = 1;
    std::vector<std::unique_ptr<CBoardProcess>> boards;
    for (EStdin input : {EStdin::DevNull, EStdin::Closed, EStdin::Pipe})
    {
        boards.push_back(std::make_unique<CBoardProcess>());
        ASSERT_TRUE(boards.back()->Start({}, 10, input));
        boards.back()->Process().CloseStdin();
    }
    Pause(idleSeconds);
    for (const std::unique_ptr<CBoardProcess>& board : boards)
    {
        CTerminal host;
        ASSERT_TRUE(host.Open(board->Device()));
        std::vector<uint8_t> reply;
        ASSERT_TRUE(host.Write(MakeFrame(0x00, 0, 0)));
        EXPECT_TRUE(host.ReadExact(1, reply));
        host.Close();
        ASSERT_TRUE(board->Stop());
        EXPECT_LT(board->Process().Result().CpuSeconds, idleSeconds / 4);
    }
}

TEST(BoardFileSizeLimit, DumpBeyondTheLimitFailsWithItsMessage)
{
    CTempDirectory files;
    const std::string dump = files.File("dump.bin");
    CBackgroundProcess board;
    // 1 block of 512 bytes: far less than the flash.
    ASSERT_TRUE(board.Start(
        {"/bin/sh", "-c", "ulimit -f 1 && exec \"$0\" \"$@\"", ORBELT_BOARD_PATH, "--dump", dump}));
    std::string device;
    ASSERT_TRUE(board.ReadFirstLine(device, 10)) << board.Result().Describe();
    ASSERT_TRUE(board.Stop());
    const CProcessResult& result = board.Result();
    EXPECT_TRUE(result.ExitedWith(1)) << result.Describe();
    EXPECT_NE(result.Err.find("cannot write dump " + dump + ": File too large"), std::string::npos)
        << result.Err;
}
