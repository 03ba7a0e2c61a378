// orbelt-dl.exe of the Windows build under Wine, against orbelt-board on pseudo-terminals. Each
// run is repeated with the Linux orbelt-dl on a board of its own: the two consoles must be the
// same bytes, but for the line ends ("\r\n" on Windows) and the start-up line's build time.
#include "image/Image.h"
#include "tests/e2e/Console.h"
#include "tests/support/Board.h"
#include "tests/support/Files.h"
#include "tests/support/Process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <regex>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace
{

const std::vector<std::string> NoErase = {"--erase-ms", "0"};
// Long enough that the first poll always finds the chip busy, so the pause between polls runs.
const std::vector<std::string> ShortErase = {"--erase-ms", "300"};
const std::string EraseOkAtSecondPoll = "Erase               ++\b \b\b \b\b\b\b Ok\n";

std::string WithCrLf(const std::string& text)
{
    std::string converted;
    for (char c : text)
    {
        if (c == '\n')
        {
            converted += '\r';
        }
        converted += c;
    }
    return converted;
}

// Checks the Windows start-up line and returns what follows it, the time line written as
// "Time  <t>\r\n".
std::string WindowsConsoleBody(const std::string& out)
{
    static const std::regex startLine(
        "^Orbelt UART Download Utility\\.   [A-Z][a-z]{2} [ 123][0-9] 20[0-9]{2} "
        "[012][0-9]:[0-5][0-9]:[0-5][0-9]\r\n\r\n");
    static const std::regex timeLine("Time  [0-9]+:[0-5][0-9]\r\n");
    std::smatch match;
    if (!std::regex_search(out, match, startLine))
    {
        ADD_FAILURE() << "no start-up line in:\n" << out;
        return out;
    }
    return std::regex_replace(out.substr(static_cast<size_t>(match.length())), timeLine,
                              "Time  <t>\r\n");
}

std::string PortLink(int port)
{
    const char* prefix = getenv("WINEPREFIX");
    return std::string(prefix != nullptr ? prefix : "") + "/dosdevices/com" + std::to_string(port);
}

// Wine finds COMn through the link dosdevices/comn, looked up at every open.
class CPortLink
{
  public:
    CPortLink(int port, const std::string& device) : Path(PortLink(port))
    {
        unlink(Path.c_str());
        Made = device.empty() || symlink(device.c_str(), Path.c_str()) == 0;
    }
    ~CPortLink() { unlink(Path.c_str()); }
    bool Made = false;

  private:
    std::string Path;
};

CProcessResult RunUnderWine(const std::vector<std::string>& arguments, double timeoutSeconds,
                            EStdin input = EStdin::DevNull, const std::string& inputText = "")
{
    std::vector<std::string> argv{"/usr/bin/env", "-u", "DISPLAY", ORBELT_WINE_LOADER,
                                  ORBELT_WINDOWS_DL_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    CProcessOptions options;
    options.Environment = {"WINEDEBUG=-all", "WINEDLLOVERRIDES=mscoree,mshtml="};
    options.TimeoutSeconds = timeoutSeconds;
    options.Stdin = input;
    options.StdinText = inputText;
    return RunProcess(argv, options);
}

// One program's run against a board of its own, and what the board saw.
class CRun
{
  public:
    CProcessResult Result;
    std::vector<uint8_t> Flash;
    size_t Frames = 0;
    bool LineRead = false;
    termios Line{};
};

// The line settings the program left on the pseudo-terminal; they stay while the board runs.
bool ReadLineSettings(const std::string& device, termios& line)
{
    int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    bool read = fd >= 0 && tcgetattr(fd, &line) == 0;
    if (fd >= 0)
    {
        close(fd);
    }
    return read;
}

class WineDownload : public ::testing::Test
{
  protected:
    std::string Image(const std::vector<uint8_t>& plain)
    {
        std::string path = Files.File("image.img");
        EXPECT_TRUE(WriteImageFile(path, plain));
        return path;
    }

    // orbelt-dl.exe with arguments, then "-p port", on COM<port> linked to a fresh board.
    CRun RunWindows(const std::vector<std::string>& boardOptions,
                    std::vector<std::string> arguments, int port, double timeoutSeconds = 60)
    {
        CRun run;
        CBoardProcess board;
        EXPECT_TRUE(board.Start(boardOptions));
        {
            CPortLink link(port, board.Device());
            EXPECT_TRUE(link.Made) << PortLink(port);
            arguments.insert(arguments.end(), {"-p", std::to_string(port)});
            run.Result = RunUnderWine(arguments, timeoutSeconds);
        }
        run.LineRead = ReadLineSettings(board.Device(), run.Line);
        EXPECT_TRUE(board.Stop()) << board.Stderr();
        run.Flash = board.Dump();
        run.Frames = board.TraceFrames().size();
        EXPECT_TRUE(run.Result.ExitedWith(1)) << run.Result.Describe();
        return run;
    }

    // The Linux orbelt-dl with the same arguments and board options.
    CRun RunLinux(const std::vector<std::string>& boardOptions, std::vector<std::string> arguments,
                  int port, double timeoutSeconds = 60)
    {
        CRun run;
        CBoardProcess board;
        EXPECT_TRUE(board.Start(boardOptions));
        arguments.insert(arguments.end(), {"-p", std::to_string(port)});
        run.Result = RunDownloader(arguments, board.Device(), port, timeoutSeconds);
        EXPECT_TRUE(board.Stop()) << board.Stderr();
        run.Flash = board.Dump();
        run.Frames = board.TraceFrames().size();
        EXPECT_TRUE(run.Result.ExitedWith(1)) << run.Result.Describe();
        return run;
    }

    // Runs both programs; the Windows console must read expected, in Windows line ends, and the
    // Linux program's console the same. Returns the Windows run.
    CRun RunBoth(const std::vector<std::string>& boardOptions,
                 const std::vector<std::string>& arguments, int port, const std::string& expected,
                 double timeoutSeconds = 60, CRun* linuxRun = nullptr)
    {
        CRun windows = RunWindows(boardOptions, arguments, port, timeoutSeconds);
        CRun native = RunLinux(boardOptions, arguments, port, timeoutSeconds);
        if (linuxRun != nullptr)
        {
            *linuxRun = native;
        }
        std::string windowsBody = WindowsConsoleBody(windows.Result.Out);
        EXPECT_EQ(windowsBody, WithCrLf(expected));
        EXPECT_EQ(windowsBody, WithCrLf(ConsoleBody(native.Result.Out)));
        EXPECT_EQ(windows.Frames, native.Frames);
        EXPECT_TRUE(windows.Flash == native.Flash) << "the two boards' flash differs";
        return windows;
    }

    CTempDirectory Files;
};

// A pseudo-terminal keeps the speed (38400 when new) and the stop bits, but always reads 8 data
// bits without parity, whatever was set: parity and byte size cannot be checked here.
void ExpectLineSettings(const CRun& run)
{
    ASSERT_TRUE(run.LineRead);
    EXPECT_EQ(cfgetospeed(&run.Line), static_cast<speed_t>(B115200));
    EXPECT_EQ(cfgetispeed(&run.Line), static_cast<speed_t>(B115200));
    EXPECT_EQ(run.Line.c_cflag & CSTOPB, 0u);
}

} // namespace

TEST_F(WineDownload, ProgramsAndVerifiesAFullImage)
{
    const int length = 131072;
    std::vector<uint8_t> plain = PlainImage(length);
    CRun native;
    CRun run = RunBoth(ShortErase, {"-v", Image(plain)}, 3,
                       EraseOkAtSecondPoll + StageLine("Program", length) +
                           StageLine("Verify", length) + "Time  <t>\n" + OkEnding,
                       240, &native);
    EXPECT_TRUE(run.Flash == plain) << "flash differs from the descrambled image";
    ExpectLineSettings(run);
    RecordProperty("wine_wall_ms", static_cast<int>(run.Result.WallSeconds * 1000));
    RecordProperty("wine_cpu_ms", static_cast<int>(run.Result.CpuSeconds * 1000));
    printf("128 KiB -v: under Wine %.1f s wall, %.1f s CPU; Linux %.1f s wall, %.1f s CPU\n",
           run.Result.WallSeconds, run.Result.CpuSeconds, native.Result.WallSeconds,
           native.Result.CpuSeconds);
}

TEST_F(WineDownload, StreamModePrintsWhatTheDefaultModePrints)
{
    // A 300 ms erase: the 100 ms polls see it at the fourth, the marks are the one-second polls'.
    const int length = 8192;
    std::vector<uint8_t> plain = PlainImage(length, 7);
    CRun run = RunBoth(ShortErase, {"--stream", "-v", Image(plain)}, 8,
                       EraseOkAtSecondPoll + StageLine("Program", length) +
                           StageLine("Verify", length) + "Time  <t>\n" + OkEnding);
    EXPECT_TRUE(run.Flash == FlashAfterDownload(plain));
}

TEST_F(WineDownload, VerifyOnlyReadsWithoutProgramming)
{
    const int length = 16384;
    std::vector<uint8_t> plain = PlainImage(length, 5);
    std::string flashFile = Files.File("flash.bin");
    ASSERT_TRUE(WriteFileBytes(flashFile, plain));
    CRun run = RunBoth({"--image", flashFile}, {"-vo", Image(plain)}, 4,
                       StageLine("Verify", length) + OkEnding);
    EXPECT_EQ(run.Frames, static_cast<size_t>(length)) << "one read frame a byte, nothing else";
    std::vector<uint8_t> flash(BoardFlashSize, 0xFF);
    std::copy(plain.begin(), plain.end(), flash.begin());
    EXPECT_TRUE(run.Flash == flash);
}

TEST_F(WineDownload, PortWithoutDeviceCannotOpen)
{
    const int port = 199;
    CPortLink none(port, "");
    std::string image = Image(PlainImage(64));
    CProcessResult windows = RunUnderWine({"-v", "-p", "199", image}, 60);
    EXPECT_TRUE(windows.ExitedWith(1)) << windows.Describe();
    CProcessResult native = RunDownloader({"-v", "-p", "199", image}, "/nonexistent/tty", port);
    std::string windowsBody = WindowsConsoleBody(windows.Out);
    EXPECT_EQ(windowsBody, WithCrLf("Can't open COM199\n" + NgEnding));
    EXPECT_EQ(windowsBody, WithCrLf(ConsoleBody(native.Out)));
    // One line with the system's reason, e.g. "File not found."
    const std::string prefix = "orbelt-dl: cannot open \\\\.\\COM199: ";
    EXPECT_EQ(windows.Err.rfind(prefix, 0), 0u) << windows.Err;
    EXPECT_GT(windows.Err.size(), prefix.size() + 3) << windows.Err;
    EXPECT_EQ(windows.Err.find_first_of("\r\n"), windows.Err.size() - 2) << windows.Err;
}

TEST_F(WineDownload, ReadBackMismatchIsAProgramError)
{
    const int length = 4096;
    std::vector<std::string> board = NoErase;
    board.insert(board.end(), {"--bad-cell", "0x230"});
    CRun run = RunBoth(board, {"-v", Image(PlainImage(length))}, 5,
                       EraseOkAtFirstPoll + StageUpTo("Program", length, 0x230 / 64) +
                           "Program Error\n" + ErrorMarker + "Time  <t>\n" + NgEnding);
    EXPECT_EQ(run.Frames, 10u + 2 * 64 * (0x230 / 64 + 1) + 2 + 2)
        << "after the failed block only the two frames that realign the board and the two "
           "cycles that leave bypass mode";
}

TEST_F(WineDownload, BoardThatStopsAnsweringTimesOut)
{
    const int length = 4096;
    // Erase, poll and bypass take 10 frames, a block 128: this stops halfway through block 3.
    std::vector<std::string> board = NoErase;
    board.insert(board.end(), {"--stop-after", "444"});
    CRun run = RunBoth(board, {"-v", Image(PlainImage(length))}, 6,
                       EraseOkAtFirstPoll + StageUpTo("Program", length, 3) + ErrorMarker +
                           "Time  <t>\n" + NgEnding);
    EXPECT_EQ(run.Frames, 10u + 4 * 128 + 3 + 2)
        << "and the fifteen bytes that try to realign it and the two cycles that leave bypass";
    // One read waits out its second; a hang would take the whole process timeout.
    EXPECT_GE(run.Result.WallSeconds, 1.0);
    EXPECT_LT(run.Result.WallSeconds, 30.0);
}

TEST_F(WineDownload, PortAboveNineOpens)
{
    const int length = 4096;
    std::vector<uint8_t> plain = PlainImage(length, 12);
    CRun run = RunBoth(NoErase, {"-v", Image(plain)}, 12,
                       EraseOkAtFirstPoll + StageLine("Program", length) +
                           StageLine("Verify", length) + "Time  <t>\n" + OkEnding);
    EXPECT_TRUE(run.Flash == FlashAfterDownload(plain));
    ExpectLineSettings(run);
}

TEST_F(WineDownload, UnattendedRunEndsWhateverStandardInputIs)
{
    const std::string expected = WithCrLf("missing file name\n" + NgEnding);
    for (EStdin input : {EStdin::DevNull, EStdin::Closed, EStdin::Text})
    {
        CProcessResult result = RunUnderWine({}, 30, input, "k");
        EXPECT_TRUE(result.ExitedWith(1)) << result.Describe();
        EXPECT_EQ(WindowsConsoleBody(result.Out), expected) << static_cast<int>(input);
        EXPECT_LT(result.WallSeconds, 20.0);
    }
}

TEST(WineScramble, WritesTheSameImageAsLinux)
{
    CTempDirectory files;
    std::vector<uint8_t> plain = PlainImage(1000, 7);
    ASSERT_TRUE(WriteFileBytes(files.File("plain.bin"), plain));
    CProcessOptions options;
    options.Environment = {"WINEDEBUG=-all", "WINEDLLOVERRIDES=mscoree,mshtml="};
    CProcessResult result = RunProcess({"/usr/bin/env", "-u", "DISPLAY", ORBELT_WINE_LOADER,
                                        ORBELT_WINDOWS_SCRAMBLE_PATH, files.File("plain.bin"),
                                        files.File("windows.img")},
                                       options);
    EXPECT_TRUE(result.ExitedWith(0)) << result.Describe();
    CProcessResult native =
        RunProcess({ORBELT_SCRAMBLE_PATH, files.File("plain.bin"), files.File("linux.img")});
    EXPECT_TRUE(native.ExitedWith(0)) << native.Describe();
    std::vector<uint8_t> image = ReadFileBytes(files.File("windows.img"));
    EXPECT_TRUE(image == ReadFileBytes(files.File("linux.img")));
    std::vector<uint8_t> expected = plain;
    ApplyImageKey(expected.data(), expected.size());
    EXPECT_TRUE(image == expected);
}

TEST(WineScramble, RefusesToWriteOverItsInput)
{
    CTempDirectory files;
    ASSERT_TRUE(WriteFileBytes(files.File("plain.bin"), PlainImage(100)));
    CProcessOptions options;
    options.Environment = {"WINEDEBUG=-all", "WINEDLLOVERRIDES=mscoree,mshtml="};
    CProcessResult result =
        RunProcess({"/usr/bin/env", "-u", "DISPLAY", ORBELT_WINE_LOADER,
                    ORBELT_WINDOWS_SCRAMBLE_PATH, files.File("plain.bin"), files.File("plain.bin")},
                   options);
    EXPECT_TRUE(result.ExitedWith(1)) << result.Describe();
    EXPECT_EQ(result.Err, "orbelt-scramble: INPUT and OUTPUT must be different files\r\n");
    EXPECT_TRUE(ReadFileBytes(files.File("plain.bin")) == PlainImage(100));
}

// Windows has no inode numbers to tell that two spellings name one file: whatever the check
// misses, the input must come out whole, either untouched or scrambled in place.
TEST(WineScramble, AliasedOutputNeverEmptiesTheInput)
{
    CTempDirectory files;
    const std::vector<uint8_t> plain = PlainImage(1000, 3);
    std::vector<uint8_t> scrambled = plain;
    ApplyImageKey(scrambled.data(), scrambled.size());
    CProcessOptions options;
    options.Environment = {"WINEDEBUG=-all", "WINEDLLOVERRIDES=mscoree,mshtml="};
    options.WorkingDirectory = files.Path();
    for (const std::string& alias :
         {std::string("./plain.bin"), std::string("PLAIN.BIN"), files.File("plain.bin")})
    {
        ASSERT_TRUE(WriteFileBytes(files.File("plain.bin"), plain));
        CProcessResult result = RunProcess({"/usr/bin/env", "-u", "DISPLAY", ORBELT_WINE_LOADER,
                                            ORBELT_WINDOWS_SCRAMBLE_PATH, "plain.bin", alias},
                                           options);
        std::vector<uint8_t> after = ReadFileBytes(files.File("plain.bin"));
        if (result.ExitedWith(1))
        {
            EXPECT_EQ(result.Err, "orbelt-scramble: INPUT and OUTPUT must be different files\r\n");
            EXPECT_TRUE(after == plain) << alias;
        }
        else
        {
            EXPECT_TRUE(result.ExitedWith(0)) << result.Describe();
            EXPECT_TRUE(after == scrambled) << alias << ": " << after.size() << " bytes";
        }
        EXPECT_EQ(unlink(files.File("plain.bin").c_str()), 0);
        EXPECT_EQ(rmdir(files.Path().c_str()), 0) << alias << ": a file left beside the input";
        ASSERT_EQ(mkdir(files.Path().c_str(), 0700), 0);
    }
}

// The Windows seams of read-back and the run record: the replacement file, the record appended
// in binary mode (no "\r"), the calendar clock and the device name.
TEST(WineOperatorTest, ReadBackAndRecord)
{
    CTempDirectory files;
    std::vector<uint8_t> plain = PlainImage(1000, 4);
    ASSERT_TRUE(WriteFileBytes(files.File("flash.bin"), FlashAfterDownload(plain)));
    CBoardProcess board;
    ASSERT_TRUE(board.Start({"--image", files.File("flash.bin")}));
    CProcessResult result;
    {
        CPortLink link(7, board.Device());
        ASSERT_TRUE(link.Made);
        result = RunUnderWine({"--read", files.File("back.img"), "--size", "1000", "--result",
                               files.File("runs.jsonl"), "-p", "7", "--no-wait"},
                              60);
    }
    ASSERT_TRUE(board.Stop()) << board.Stderr();
    EXPECT_TRUE(result.ExitedWith(0)) << result.Describe();
    std::string ok = OkEnding.substr(0, OkEnding.rfind('\n') + 1);
    EXPECT_EQ(WindowsConsoleBody(result.Out),
              WithCrLf(StageLine("Read", 1000) + "Time  <t>\n" + ok +
                       "Flash saved, press any key to continue"));
    ASSERT_TRUE(WriteImageFile(files.File("expected.img"), plain));
    EXPECT_TRUE(ReadFileBytes(files.File("back.img")) == ReadFileBytes(files.File("expected.img")));
    std::string record = ReadFileText(files.File("runs.jsonl"));
    EXPECT_TRUE(std::regex_match(
        record, std::regex("\\{\"start\":\"20[0-9]{2}-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:"
                           "[0-5][0-9]\\.[0-9]{3}Z\",\"version\":\"" ORBELT_VERSION
                           "\",\"port\":7,\"device\":\"\\\\\\\\\\\\\\\\\\.\\\\\\\\COM7\","
                           "\"image\":\"[^\"]+back\\.img\",\"image_length\":1000,"
                           "\"image_crc32\":\"[0-9a-f]{8}\",\"mode\":\"read\",\"result\":\"OK\","
                           "\"failed_stage\":null,\"reason\":null,\"elapsed_seconds\":[0-9]+\\."
                           "[0-9]{3}\\}\n")))
        << record;
}

namespace
{

// --ports under Wine: two workers, each orbelt-dl.exe on a port of its own, in the parent's Job
// object; the summary, a log each in Windows line ends, and both boards' flash.
TEST_F(WineDownload, TwoPortsAtOnce)
{
    const std::vector<uint8_t> plain = PlainImage(4096, 14);
    const std::string image = Image(plain);
    CBoardProcess boards[2];
    ASSERT_TRUE(boards[0].Start(NoErase) && boards[1].Start(NoErase));
    CProcessResult result;
    {
        CPortLink first(1, boards[0].Device());
        CPortLink second(2, boards[1].Device());
        ASSERT_TRUE(first.Made && second.Made);
        result = RunUnderWine({"--ports", "1-2", "--log-dir", Files.File("logs"), "--no-wait", "-v",
                               "--result", Files.File("runs.jsonl"), image},
                              60);
    }
    EXPECT_TRUE(result.ExitedWith(0)) << result.Describe();
    EXPECT_NE(result.Out.find("COM1    OK "), std::string::npos) << result.Out;
    EXPECT_NE(result.Out.find("COM2    OK "), std::string::npos) << result.Out;
    EXPECT_NE(result.Out.find("2 ports: 2 OK, 0 NG\r\n"), std::string::npos) << result.Out;
    for (int port = 1; port <= 2; ++port)
    {
        const std::string log =
            ReadFileText(Files.File("logs/COM" + std::to_string(port) + "-console.log"));
        EXPECT_EQ(WindowsConsoleBody(log),
                  WithCrLf(StageLine("Program", 4096) + StageLine("Verify", 4096) + "Time  <t>\n")
                          .insert(0, WithCrLf(EraseOkAtFirstPoll)) +
                      WithCrLf(OkEnding))
            << log;
        ASSERT_TRUE(boards[port - 1].Stop());
        EXPECT_TRUE(boards[port - 1].Dump() == FlashAfterDownload(plain)) << port;
    }
    const std::string records = ReadFileText(Files.File("runs.jsonl"));
    EXPECT_EQ(std::count(records.begin(), records.end(), '\n'), 2) << records;
}

} // namespace
