// Ctrl-C on a real terminal: during the download and during the final key wait, the
// terminal's settings must be as they were before orbelt-dl started.
#include "tests/faults/FaultSupport.h"

#include <gtest/gtest.h>

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

    // Runs orbelt-dl -v in the pane, between two snapshots of the pane's terminal settings.
    // A trap keeps the script going after Ctrl-C so that the second snapshot is taken; the
    // pane then stays open until the server is killed.
    bool StartDownload(const std::string& device)
    {
        std::string script = Files.File("run.sh");
        std::string text = "trap 'echo interrupted >>" + Files.File("log") + "' INT\n" +
                           "stty -g >" + Files.File("before") + "\n" + "ORBELT_COM7=" + device +
                           " '" + ORBELT_DL_PATH + "' -v -p 7 '" + Image + "'\n" + "code=$?\n" +
                           "stty -g >" + Files.File("after") + "\n" + "echo $code >" +
                           Files.File("status") + "\n" + "exec sleep 60\n";
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
    // Read without echo: the key never shows on the screen after the verdict.
    std::string screen = Session.Screen();
    size_t verdict = screen.find("press any key to continue");
    ASSERT_NE(verdict, std::string::npos) << screen;
    EXPECT_EQ(screen.find('x', verdict), std::string::npos) << screen;
}

} // namespace
