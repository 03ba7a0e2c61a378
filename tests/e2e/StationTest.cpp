// Station mode end to end: the real orbelt-dl --station against orbelt-board, whose boards the
// test takes off, puts on and unplugs with the board's commands.
#include "tests/e2e/Console.h"
#include "tests/support/Board.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <regex>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace
{

const std::regex TimeLine("Time  [0-9]+:[0-5][0-9]\n");
const char* const AnyTime = "Time  <t>\n";

// Waits until text occurs count times in the station's output; false after timeoutSeconds.
bool AwaitOutput(CBackgroundProcess& station, const std::string& text, int count = 1,
                 double timeoutSeconds = 30)
{
    for (double end = MonotonicSeconds() + timeoutSeconds; MonotonicSeconds() < end;)
    {
        const std::string out = station.Stdout();
        int found = 0;
        for (size_t at = out.find(text); at != std::string::npos; at = out.find(text, at + 1))
        {
            ++found;
        }
        if (found >= count)
        {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// The UUCP lock file of a device (/dev/pts/5 -> /run/lock/LCK..pts_5).
std::string LockFile(const std::string& device)
{
    std::string name = device.substr(5);
    std::replace(name.begin(), name.end(), '/', '_');
    return "/run/lock/LCK.." + name;
}

// As root TIOCEXCL does not stop an open, so the mode is read back.
bool Exclusive(const std::string& device)
{
    int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    int exclusive = 0;
    if (fd >= 0)
    {
        ioctl(fd, TIOCGEXCL, &exclusive);
        close(fd);
    }
    return fd < 0 || exclusive != 0;
}

// What the status line shows last among the redraws in text.
std::string LastStatus(std::string text)
{
    text = text.substr(text.rfind('\r') == std::string::npos ? 0 : text.rfind('\r') + 1);
    return text.erase(text.find_last_not_of(' ') + 1);
}

// Board 1 is on from the start. Then its adapter is unplugged and comes back with board 2,
// which is taken off as soon as its verdict is out; Ctrl-C while the station waits for a third.
TEST(Station, TwoBoardsThenCtrlCWhileWaiting)
{
    CTempDirectory files;
    const std::string image = files.File("fw.img");
    const std::vector<uint8_t> plain = PlainImage(1000, 7);
    ASSERT_TRUE(WriteImageFile(image, plain));
    const std::string link = files.File("adapter");
    const std::string records = files.File("runs.jsonl");
    CBoardProcess board;
    ASSERT_TRUE(board.Start({"--link", link, "--erase-ms", "300"}, 10, EStdin::Pipe));

    // What a single run prints for the same image: each board must show exactly that.
    CProcessResult single = RunDownloader({"-v", "-p", "7", image}, link);
    ASSERT_TRUE(single.ExitedWith(1)) << single.Describe();
    // A station identifies each board's chip first, and asks for no key.
    std::string singleBody = ConsoleBody(single.Out);
    singleBody.erase(singleBody.find(", press any key to continue"));
    singleBody.insert(0,
                      "Chip      Am29F010B (manufacturer 0x01, device 0x20), 128 KiB, 8 sectors\n"
                      "no sector protected\n");

    CBackgroundProcess station;
    CProcessOptions options;
    options.Environment.push_back("ORBELT_COM7=" + link);
    ASSERT_TRUE(station.Start(
        {ORBELT_DL_PATH, "--station", "-v", "--result", records, "-p", "7", image}, options));
    ASSERT_TRUE(AwaitOutput(station, "Firmware upgraded")) << station.Stdout();
    const std::string first = board.Devices().front();
    EXPECT_TRUE(FileExists(LockFile(first)));

    ASSERT_TRUE(board.Control("vanish", "device gone"));
    ASSERT_TRUE(AwaitOutput(station, "Board 2: waiting")) << station.Stdout();
    EXPECT_FALSE(FileExists(LockFile(first))) << "the lock outlived the device";
    ASSERT_TRUE(board.Control("on --erase-ms 300", "new board on"));
    ASSERT_TRUE(board.Control("return", "device back at"));
    const double back = MonotonicSeconds();
    ASSERT_TRUE(AwaitOutput(station, "Erase", 2)) << station.Stdout();
    const double toErase = MonotonicSeconds() - back;
    const std::string second = board.Devices().back();
    EXPECT_TRUE(FileExists(LockFile(second)));
    EXPECT_TRUE(Exclusive(second));

    ASSERT_TRUE(AwaitOutput(station, "Firmware upgraded", 2)) << station.Stdout();
    const double verdict = MonotonicSeconds();
    ASSERT_TRUE(board.Control("off", "board off"));
    ASSERT_TRUE(AwaitOutput(station, "Board 3: waiting")) << station.Stdout();
    const double toGone = MonotonicSeconds() - verdict;
    EXPECT_TRUE(FileExists(LockFile(second))) << "the port is let go only with its device";

    ASSERT_TRUE(station.SendSignal(SIGINT));
    ASSERT_TRUE(station.Wait(5));
    const CProcessResult& result = station.Result();
    EXPECT_TRUE(result.ExitedWith(0)) << result.Describe();
    EXPECT_FALSE(FileExists(LockFile(second)));
    // A board shows up half a second after it came; one that went, a second after.
    RecordProperty("return_to_erase_ms", static_cast<int>(toErase * 1000));
    RecordProperty("verdict_to_gone_ms", static_cast<int>(toGone * 1000));
    EXPECT_GE(toErase, 0.45);
    EXPECT_LT(toErase, 3.0);
    EXPECT_GE(toGone, 0.95);
    EXPECT_LT(toGone, 4.0);

    const std::string body = std::regex_replace(ConsoleBody(result.Out), TimeLine, AnyTime);
    std::smatch parts;
    // A message on standard error (the port that cannot open while the adapter is gone) ends
    // the status line first.
    const std::regex layout("(Board 1: [^\n]*)\n(Chip[^]*)\n\n(Board 2: [^]*?)\n(Chip[^]*)\n\n"
                            "(Board 3: [^\n]*)\n\n2 boards flashed: 2 OK, 0 NG\n");
    ASSERT_TRUE(std::regex_match(body, parts, layout)) << body;
    EXPECT_EQ(LastStatus(parts[1]), "Board 1: started (0 OK, 0 NG)");
    EXPECT_EQ(parts[2].str(), singleBody);
    EXPECT_NE(parts[3].str().find("Board 2: waiting (1 OK, 0 NG)"), std::string::npos);
    EXPECT_EQ(LastStatus(parts[3]), "Board 2: started (1 OK, 0 NG)");
    EXPECT_EQ(parts[4].str(), singleBody);
    EXPECT_EQ(LastStatus(parts[5]), "Board 3: waiting (2 OK, 0 NG)");

    const std::string log = ReadFileText(records);
    const std::regex record("\\{\"start\":\"[^\"]+\",\"version\":\"[^\"]+\",\"port\":7,"
                            "\"device\":\"[^\"]+\",\"board\":([12]),\"image\":\"[^\"]+\","
                            "\"image_length\":1000,\"image_crc32\":\"[0-9a-f]{8}\","
                            "\"image_sha256\":\"[0-9a-f]{64}\",\"mode\":\"program-verify\","
                            "\"result\":\"OK\",\"failed_stage\":null,"
                            "\"reason\":null,\"elapsed_seconds\":[0-9]+\\.[0-9]{3},"
                            "\"chip_id\":\"01:20\",\"chip\":\"Am29F010B\"\\}\n");
    std::vector<std::string> boards;
    for (std::sregex_iterator it(log.begin(), log.end(), record), end; it != end; ++it)
    {
        boards.push_back((*it)[1]);
    }
    EXPECT_EQ(boards, (std::vector<std::string>{"1", "2"})) << log;
    EXPECT_EQ(std::regex_replace(log, record, ""), "") << log;

    ASSERT_TRUE(board.Stop());
    EXPECT_EQ(board.Dump(), FlashAfterDownload(plain));
}

} // namespace
