// Ctrl-C and Ctrl-Z on a real terminal: during the download and during the final key wait, the
// terminal's settings must be as they were before orbelt-dl started. And a download stopped
// early by a signal or a failed transaction must leave the chip out of unlock-bypass mode.
#include "tests/faults/FaultSupport.h"

#include <algorithm>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <regex>
#include <signal.h>
#include <unistd.h>

namespace
{

// A tmux server of the test's own, with one pane running a shell script.
class CTmux
{
  public:
    ~CTmux()
    {
        if (Started)
        {
            Tmux({"kill-server"});
        }
    }

    bool Start(const std::string& script)
    {
        Started = Tmux({"-f", "/dev/null", "new-session", "-d", "-x", "120", "-y", "40", "-s",
                        "fault", "bash " + script})
                      .ExitedWith(0);
        return Started;
    }

    std::string Screen() { return Tmux({"capture-pane", "-p", "-t", "fault"}).Out; }
    // The same with the colours, as escape sequences.
    std::string ColouredScreen() { return Tmux({"capture-pane", "-p", "-e", "-t", "fault"}).Out; }

    bool WaitForScreen(const std::string& text, double timeoutSeconds)
    {
        double deadline = MonotonicSeconds() + timeoutSeconds;
        while (Screen().find(text) == std::string::npos)
        {
            if (MonotonicSeconds() >= deadline)
            {
                return false;
            }
            SleepFor(0.02);
        }
        return true;
    }

    bool SendKeys(const std::string& keys)
    {
        return Tmux({"send-keys", "-t", "fault", keys}).ExitedWith(0);
    }

    std::string PaneTerminal()
    {
        std::string out = Tmux({"display-message", "-p", "-t", "fault", "#{pane_tty}"}).Out;
        return out.substr(0, out.find('\n'));
    }

  private:
    CProcessResult Tmux(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), {ORBELT_TMUX_PATH, "-S", Files.File("socket")});
        CProcessOptions options;
        options.Environment = {"TERM=xterm"};
        options.TimeoutSeconds = 10;
        return RunProcess(arguments, options);
    }

    CTempDirectory Files;
    bool Started = false;
};

std::string TerminalSettings(const std::string& device)
{
    CProcessResult result = RunProcess({"/bin/stty", "-g", "-F", device});
    return result.ExitedWith(0) ? result.Out : "stty failed: " + result.Describe();
}

bool WaitForSettings(const std::string& device, const std::string& settings)
{
    double deadline = MonotonicSeconds() + 5;
    while (TerminalSettings(device) != settings)
    {
        if (MonotonicSeconds() >= deadline)
        {
            return false;
        }
        SleepFor(0.02);
    }
    return true;
}

class TerminalFaultTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        if (std::string(ORBELT_TMUX_PATH).empty())
        {
            GTEST_SKIP() << "tmux is not installed";
        }
        ASSERT_TRUE(WriteImageFile(Image, Plain));
    }

    // Runs orbelt-dl with options (-v) in the pane, between two snapshots of the pane's terminal
    // settings, with its pid in the file "pid". A trap keeps the script going after Ctrl-C so that
    // the second snapshot is taken. Then whatever input is left for the shell goes to "leftover" as
    // "[...]" and "END" is printed; the pane stays open until the server is killed.
    bool StartDownload(const std::string& device, const std::string& options = "-v")
    {
        std::string script = Files.File("run.sh");
        std::string text = "trap 'echo interrupted >>" + Files.File("log") + "' INT\n" +
                           "stty -g >" + Files.File("before") + "\n" + "ORBELT_COM7=" + device +
                           " bash -c 'echo $$ >" + Files.File("pid") + "; exec \"$0\" \"$@\"' '" +
                           ORBELT_DL_PATH + "' " + options + " -p 7 '" + Image + "'\n" +
                           "code=$?\n" + "stty -g >" + Files.File("after") + "\n" + "echo $code >" +
                           Files.File("status") + "\n" + "IFS= read -r -s -t 1 -n 8 rest\n" +
                           "printf '[%s]' \"$rest\" >" + Files.File("leftover") + "\n" +
                           "printf END\n" + "exec sleep 60\n";
        return WriteFileText(script, text) && Session.Start(script) &&
               WaitForFile(Files.File("before"), 10);
    }

    std::string Status()
    {
        return WaitForFile(Files.File("status"), 10) ? ReadFileText(Files.File("status"))
                                                     : "no status";
    }

    CTempDirectory Files;
    std::string Image = Files.File("image.img");
    std::vector<uint8_t> Plain = PlainImage(1000, 8);
    CTmux Session;
};

TEST_F(TerminalFaultTest, CtrlCDuringTheDownload)
{
    CBoardProcess board;
    ASSERT_TRUE(board.Start({"--erase-ms", "3000"}));
    ASSERT_TRUE(StartDownload(board.Device()));
    ASSERT_TRUE(Session.WaitForScreen("Erase               +", 10)) << Session.Screen();
    ASSERT_TRUE(Session.SendKeys("C-c"));

    EXPECT_EQ(Status(), "130\n") << Session.Screen();
    EXPECT_EQ(ReadFileText(Files.File("after")), ReadFileText(Files.File("before")));
    // Nothing more is sent: the polls have stopped.
    size_t sent = board.Trace().size();
    SleepFor(1.5);
    EXPECT_EQ(board.Trace().size(), sent);
    EXPECT_LT(sent / 5, 10u);

    // The port is free again and the board still serves a whole download.
    CProcessResult again =
        RunDownloaderWith({"-v", "-p", "7", Image}, board.Device(), EStdin::DevNull);
    EXPECT_TRUE(again.ExitedWith(1)) << again.Describe();
    std::string body = ConsoleBody(again.Out);
    EXPECT_EQ(body.substr(body.size() - std::min(body.size(), OkEnding.size())), OkEnding);
    ASSERT_TRUE(board.Stop()) << board.Stderr();
    EXPECT_EQ(board.Dump(), FlashAfterDownload(Plain));
}

// On a terminal, where the key wait would block: the exit status alone tells the result.
TEST_F(TerminalFaultTest, NoWaitEndsWithoutAKey)
{
    CBoardProcess board;
    ASSERT_TRUE(board.Start({"--erase-ms", "0"}));
    ASSERT_TRUE(StartDownload(board.Device(), "-v --no-wait"));
    EXPECT_EQ(Status(), "0\n") << Session.Screen();
    EXPECT_NE(Session.Screen().find("Firmware upgraded, press any key to continue"),
              std::string::npos);
    EXPECT_EQ(ReadFileText(Files.File("after")), ReadFileText(Files.File("before")));

    CTmux failing;
    ASSERT_TRUE(WriteFileText(Files.File("run.sh"),
                              "'" + std::string(ORBELT_DL_PATH) + "' --no-wait -p 0; echo $? >" +
                                  Files.File("failed") + "\nexec sleep 60\n"));
    ASSERT_TRUE(failing.Start(Files.File("run.sh")));
    ASSERT_TRUE(WaitForFile(Files.File("failed"), 10)) << failing.Screen();
    EXPECT_EQ(ReadFileText(Files.File("failed")), "1\n");
}

class KeyWaitTest : public TerminalFaultTest
{
  protected:
    // Runs a quick download and waits until orbelt-dl waits for the key with the terminal in
    // its key mode.
    void ReachKeyWait()
    {
        ASSERT_TRUE(Board.Start({"--erase-ms", "0"}));
        ASSERT_TRUE(StartDownload(Board.Device()));
        ASSERT_TRUE(Session.WaitForScreen("Firmware upgraded, press any key to continue", 20))
            << Session.Screen();
        std::string before = ReadFileText(Files.File("before"));
        std::string pane = Session.PaneTerminal();
        double deadline = MonotonicSeconds() + 5;
        while (TerminalSettings(pane) == before && MonotonicSeconds() < deadline)
        {
            SleepFor(0.02);
        }
        ASSERT_NE(TerminalSettings(pane), before) << "the key wait never changed the terminal";
    }

    CBoardProcess Board;
};

TEST_F(KeyWaitTest, CtrlCDuringTheKeyWait)
{
    ReachKeyWait();
    ASSERT_TRUE(Session.SendKeys("C-c"));
    EXPECT_EQ(Status(), "130\n") << Session.Screen();
    EXPECT_EQ(ReadFileText(Files.File("after")), ReadFileText(Files.File("before")));
    EXPECT_FALSE(FileExists(LockFileOf(Board.Device())));
    EXPECT_EQ(ExclusiveMode(Board.Device()), 0) << "exclusive mode left on the device";
}

TEST_F(KeyWaitTest, KeyPressEndsTheWait)
{
    ReachKeyWait();
    ASSERT_TRUE(Session.SendKeys("x"));
    EXPECT_EQ(Status(), "1\n") << Session.Screen();
    EXPECT_EQ(ReadFileText(Files.File("after")), ReadFileText(Files.File("before")));
    // Read without echo: the key never shows on the screen after the verdict, and what the
    // shell prints next starts on a line of its own.
    ASSERT_TRUE(Session.WaitForScreen("END", 5)) << Session.Screen();
    std::string screen = Session.Screen();
    EXPECT_NE(screen.find("press any key to continue\nEND"), std::string::npos) << screen;
    EXPECT_EQ(screen.find('x', screen.find("press any key")), std::string::npos) << screen;
}

// The three bytes of an arrow key: one ends the wait, the other two must not reach the shell.
TEST_F(KeyWaitTest, ArrowKeyLeavesNothingForTheShell)
{
    ReachKeyWait();
    ASSERT_TRUE(Session.SendKeys("Up"));
    EXPECT_EQ(Status(), "1\n") << Session.Screen();
    ASSERT_TRUE(WaitForFile(Files.File("leftover"), 5));
    EXPECT_EQ(ReadFileText(Files.File("leftover")), "[]");
}

// Ctrl-Z hands the shell its terminal back while orbelt-dl is stopped; continued, it waits for
// the key again in its key mode.
TEST_F(KeyWaitTest, CtrlZRestoresTheTerminalUntilContinued)
{
    ReachKeyWait();
    std::string pane = Session.PaneTerminal();
    std::string before = ReadFileText(Files.File("before"));
    std::string keyMode = TerminalSettings(pane);
    ASSERT_TRUE(Session.SendKeys("C-z"));
    EXPECT_TRUE(WaitForSettings(pane, before)) << TerminalSettings(pane);
    // Without job control the script's shell stopped too: continue the whole group.
    pid_t downloader = static_cast<pid_t>(std::stol(ReadFileText(Files.File("pid"))));
    ASSERT_EQ(kill(-getpgid(downloader), SIGCONT), 0);
    EXPECT_TRUE(WaitForSettings(pane, keyMode)) << TerminalSettings(pane);
    ASSERT_TRUE(Session.SendKeys("x"));
    EXPECT_EQ(Status(), "1\n") << Session.Screen();
    EXPECT_EQ(ReadFileText(Files.File("after")), before);
}

CBoardFrame Cycle(uint32_t address, uint8_t value)
{
    return {0x80, static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8), 0, value};
}

// A board that took the image whole after a first download ended early in the program stage.
class EarlyEndTest : public ::testing::Test
{
  protected:
    void SetUp() override { ASSERT_TRUE(WriteImageFile(Image, Plain)); }

    void ExpectSecondDownloadFlashes()
    {
        CProcessResult again =
            RunDownloaderWith({"-p", "7", Image}, Board.Device(), EStdin::DevNull);
        EXPECT_TRUE(again.ExitedWith(1)) << again.Describe();
        EXPECT_EQ(ConsoleBody(again.Out), EraseOkAtFirstPoll +
                                              StageLine("Program", static_cast<int>(Plain.size())) +
                                              "Time  <t>\n" + OkEnding);
        ASSERT_TRUE(Board.Stop()) << Board.Stderr();
        EXPECT_EQ(Board.Dump(), FlashAfterDownload(Plain));
    }

    // The first run's frames end with whole program pairs, then the two leave-bypass cycles;
    // after a failure (not a stop) the two frames that realign the board come between.
    void ExpectBypassLeftAtAPairBoundary(bool realigned = false)
    {
        std::vector<CBoardFrame> frames = Board.TraceFrames();
        EXPECT_EQ(Board.Trace().size() % 5, 0u);
        auto leave =
            std::search(frames.begin(), frames.end(), LeaveBypass.begin(), LeaveBypass.end());
        ASSERT_NE(leave, frames.end());
        if (realigned)
        {
            EXPECT_EQ(*--leave, RealignRead);
            EXPECT_EQ(*--leave, RealignFiller);
        }
        EXPECT_EQ((leave - frames.begin() - 10) % 2, 0) << "a program pair was cut";
        EXPECT_EQ(leave[-2], Cycle(0x333, 0xA0));
    }

    CTempDirectory Files;
    std::string Image = Files.File("image.img");
    std::vector<uint8_t> Plain = PlainImage(8192, 9);
    CBoardProcess Board;
    const std::vector<CBoardFrame> LeaveBypass = {Cycle(0x333, 0x90), Cycle(0x333, 0xF0)};
};

// SIGINT in the program stage of a paced board: the run stops within a block or two, reports
// the failure without waiting for a key, and exits with 128 + 2.
void InterruptTheProgramStage(CBoardProcess& board, const std::string& image,
                              const std::vector<std::string>& options)
{
    ASSERT_TRUE(board.Start({"--erase-ms", "0", "--baud", "115200"}));
    CBackgroundProcess downloader;
    std::vector<std::string> argv{ORBELT_DL_PATH, "-p", "7", image};
    argv.insert(argv.end(), options.begin(), options.end());
    ASSERT_TRUE(downloader.Start(argv, DownloaderOptions(board.Device())));
    double deadline = MonotonicSeconds() + 20;
    while (downloader.Stdout().find(" 25 %") == std::string::npos && MonotonicSeconds() < deadline)
    {
        SleepFor(0.01);
    }
    ASSERT_TRUE(downloader.SendSignal(SIGINT));
    double signalled = MonotonicSeconds();
    ASSERT_TRUE(downloader.Wait(10));
    EXPECT_LT(MonotonicSeconds() - signalled, 1.5);
    const CProcessResult& result = downloader.Result();
    EXPECT_TRUE(result.ExitedWith(130)) << result.Describe();
    std::string body = ConsoleBody(result.Out);
    bool matched = false;
    for (int block = 0; block < 128 && !matched; ++block)
    {
        matched = body == EraseOkAtFirstPoll + StageUpTo("Program", 8192, block) + ErrorMarker +
                              "Time  <t>\n" + NgEnding;
    }
    EXPECT_TRUE(matched) << body;
    EXPECT_EQ(result.Err, "orbelt-dl: stopped by signal 2\n");
    // The paced board still works through the frames that were on the line at the stop; their
    // replies would greet a host that opened the port at once. An operator takes longer.
    SleepFor(0.5);
}

TEST_F(EarlyEndTest, SignalInTheProgramStage)
{
    InterruptTheProgramStage(Board, Image, {});
    ExpectSecondDownloadFlashes();
    ExpectBypassLeftAtAPairBoundary();
}

TEST_F(EarlyEndTest, SignalInTheProgramStageOfAStream)
{
    InterruptTheProgramStage(Board, Image, {"--stream"});
    ExpectSecondDownloadFlashes();
    ExpectBypassLeftAtAPairBoundary();
}

// A program reply that comes up short fails the stage with the chip in bypass mode.
TEST_F(EarlyEndTest, FailedProgramTransaction)
{
    ASSERT_TRUE(Board.Start({"--erase-ms", "0", "--short-program", "128"}));
    CProcessResult first = RunDownloaderWith({"-p", "7", Image}, Board.Device(), EStdin::DevNull);
    EXPECT_TRUE(first.ExitedWith(1)) << first.Describe();
    EXPECT_EQ(ConsoleBody(first.Out), EraseOkAtFirstPoll + StageUpTo("Program", 8192, 1) +
                                          ErrorMarker + "Time  <t>\n" + NgEnding);
    ExpectSecondDownloadFlashes();
    ExpectBypassLeftAtAPairBoundary(true);
}

// A board left out of step without a power cycle: its chip in unlock bypass after the host was
// killed while programming, or a frame cut short in its reader (an adapter pulled mid-frame).
// The next download finds the erase has not started, mends it and passes at its first try.
TEST_F(EarlyEndTest, NoPowerCycleAfterAKillOrACutFrame)
{
    for (bool killed : {true, false})
    {
        CBoardProcess board;
        ASSERT_TRUE(board.Start({"--erase-ms", "0", "--baud", "115200"}));
        CBackgroundProcess first;
        ASSERT_TRUE(
            first.Start({ORBELT_DL_PATH, "-p", "7", Image}, DownloaderOptions(board.Device())));
        ASSERT_TRUE(WaitUntil(
            [&] { return first.Stdout().find(killed ? " 25 %" : "Firmware") != std::string::npos; },
            30));
        if (killed)
        {
            ASSERT_TRUE(first.SendSignal(SIGKILL));
        }
        ASSERT_TRUE(first.Wait(10));
        SleepFor(0.5); // the frames still on the paced line reach the board
        if (!killed)
        {
            const int fd = open(board.Device().c_str(), O_WRONLY | O_NOCTTY);
            ASSERT_GE(fd, 0);
            const unsigned char cut[] = {0x80, 0x33};
            EXPECT_EQ(write(fd, cut, sizeof cut), 2);
            close(fd);
        }
        const double start = MonotonicSeconds();
        CProcessResult again =
            RunDownloaderWith({"-p", "7", Image}, board.Device(), EStdin::DevNull);
        // A paced download of the image takes about 9 s; an erase that never ends, 35 s more.
        EXPECT_LT(MonotonicSeconds() - start, 25.0);
        EXPECT_TRUE(again.ExitedWith(1)) << again.Describe();
        EXPECT_NE(again.Out.find("Firmware upgraded"), std::string::npos) << again.Out;
        EXPECT_NE(again.Err.find("the chip erase did not start"), std::string::npos) << again.Err;
        ASSERT_TRUE(board.Stop()) << board.Stderr();
        EXPECT_EQ(board.Dump(), FlashAfterDownload(Plain));
    }
}

// --ports on a terminal: one line a port, redrawn in place, its verdict in colour.
TEST_F(TerminalFaultTest, PortsShowALineEachWithTheirVerdictsInColour)
{
    std::vector<std::unique_ptr<CBoardProcess>> boards;
    std::string mapping;
    for (int port = 1; port <= 3; ++port)
    {
        boards.push_back(std::make_unique<CBoardProcess>());
        ASSERT_TRUE(boards.back()->Start({"--erase-ms", "300", "--baud", "115200", "--bad-cell",
                                          port == 2 ? "100" : "0x1FFFF"}));
        mapping += "ORBELT_COM" + std::to_string(port) + "=" + boards.back()->Device() + " ";
    }
    const std::string script = Files.File("ports.sh");
    ASSERT_TRUE(WriteFileText(script, mapping + "'" + ORBELT_DL_PATH + "' --ports 1-3 --no-wait '" +
                                          Image + "'\nexec sleep 60\n"));
    ASSERT_TRUE(Session.Start(script));
    ASSERT_TRUE(Session.WaitForScreen("3 ports: 2 OK, 1 NG", 30)) << Session.Screen();
    const std::string screen = Session.ColouredScreen();
    for (int port = 1; port <= 3; ++port)
    {
        const std::regex line("(^|\n)COM" + std::to_string(port) + " +board 1 [^\n]*\x1b\\[" +
                              (port == 2 ? "31mNG" : "32mOK"));
        EXPECT_EQ(std::distance(std::sregex_iterator(screen.begin(), screen.end(), line),
                                std::sregex_iterator()),
                  1)
            << "COM" << port << " once, redrawn in place:\n"
            << screen;
    }
    EXPECT_NE(screen.find("\n3 boards: 2 OK, 1 NG"), std::string::npos) << screen;
}

} // namespace
