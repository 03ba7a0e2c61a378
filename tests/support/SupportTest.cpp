#include "tests/support/Board.h"
#include "tests/support/Files.h"
#include "tests/support/Process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

static CProcessResult Shell(const std::string& script,
                            const CProcessOptions& options = CProcessOptions())
{
    return RunProcess({"/bin/sh", "-c", script}, options);
}

TEST(RunProcess, CapturesExactOutputAndExitCode)
{
    const CProcessResult result = Shell("printf 'a\\000b\\n'; printf 'to err' >&2; exit 3");
    ASSERT_TRUE(result.Started) << result.StartError;
    EXPECT_TRUE(result.ExitedWith(3)) << result.Describe();
    EXPECT_EQ(result.Out, std::string("a\0b\n", 4));
    EXPECT_EQ(result.Err, "to err");
}

TEST(RunProcess, ReportsTheSignalThatEndedTheChild)
{
    const CProcessResult result = Shell("kill -TERM $$");
    EXPECT_FALSE(result.Exited);
    EXPECT_EQ(result.Signal, SIGTERM);
    EXPECT_FALSE(result.ExitedWith(0));
}

TEST(RunProcess, StdinTextIsDeliveredWhileOutputFlowsBack)
{
    // Larger than a pipe buffer both ways, so feeding and reading must go on together.
    std::string text;
    for (int i = 0; text.size() < 300000; ++i)
    {
        text += std::to_string(i) + "\n";
    }
    CProcessOptions options;
    options.Stdin = EStdin::Text;
    options.StdinText = text;
    const CProcessResult result = RunProcess({"/bin/cat"}, options);
    ASSERT_TRUE(result.ExitedWith(0)) << result.Describe();
    EXPECT_EQ(result.Out, text);
}

TEST(RunProcess, StdinIsDevNullOrClosed)
{
    const std::string probe = "if [ -e /proc/$$/fd/0 ]; then cat; echo open; else echo closed; fi";
    EXPECT_EQ(Shell(probe).Out, "open\n");
    CProcessOptions options;
    options.Stdin = EStdin::Closed;
    EXPECT_EQ(Shell(probe, options).Out, "closed\n");
}

TEST(RunProcess, EnvironmentEntriesAreAddedOrReplaced)
{
    CProcessOptions options;
    options.Environment = {"ORBELT_SUPPORT_PROBE=yes", "HOME=/nowhere"};
    const CProcessResult result =
        Shell("echo \"$ORBELT_SUPPORT_PROBE|$HOME|${PATH:+path}\"", options);
    EXPECT_EQ(result.Out, "yes|/nowhere|path\n");
}

TEST(RunProcess, RunsInTheGivenDirectory)
{
    CTempDirectory directory;
    CProcessOptions options;
    options.WorkingDirectory = directory.Path();
    EXPECT_EQ(Shell("pwd -P", options).Out, directory.Path() + "\n");
}

TEST(RunProcess, TimeoutKillsTheChildAndItsChildren)
{
    CProcessOptions options;
    options.TimeoutSeconds = 0.3;
    const CProcessResult result = Shell("sleep 20 & sleep 20", options);
    EXPECT_TRUE(result.TimedOut);
    EXPECT_EQ(result.Signal, SIGKILL);
    EXPECT_LT(result.WallSeconds, 3.0);
    EXPECT_GE(result.WallSeconds, 0.3);
}

TEST(RunProcess, ChildLeavingABackgroundJobIsNotWaitedFor)
{
    const double start = MonotonicSeconds();
    const CProcessResult result = Shell("sleep 5 & echo done");
    EXPECT_TRUE(result.ExitedWith(0));
    EXPECT_EQ(result.Out, "done\n");
    EXPECT_LT(MonotonicSeconds() - start, 3.0);
}

TEST(RunProcess, MeasuresCpuSeparatelyFromWallTime)
{
    const CProcessResult idle = Shell("sleep 0.3");
    EXPECT_GE(idle.WallSeconds, 0.3);
    EXPECT_LT(idle.CpuSeconds, 0.45);
    const CProcessResult busy = Shell("i=0; while [ $i -lt 400000 ]; do i=$((i+1)); done");
    ASSERT_TRUE(busy.ExitedWith(0));
    EXPECT_GT(busy.CpuSeconds, 0.05);
}

TEST(RunProcess, MissingProgramDoesNotStart)
{
    const CProcessResult result = RunProcess({"/nonexistent/orbelt-program"});
    EXPECT_FALSE(result.Started);
    EXPECT_NE(result.StartError.find("/nonexistent/orbelt-program"), std::string::npos);
}

TEST(RunProcess, TheTestsOwnDescriptorsStayBehind)
{
    const int fd = open("/dev/null", O_RDONLY);
    ASSERT_GE(fd, 0);
    const CProcessResult result =
        Shell("[ -e /proc/$$/fd/" + std::to_string(fd) + " ] && echo leaked || echo clean");
    close(fd);
    EXPECT_EQ(result.Out, "clean\n");
}

TEST(BackgroundProcess, StopSendsSigtermAndCollectsTheOutput)
{
    CBackgroundProcess process;
    ASSERT_TRUE(
        process.Start({"/bin/sh", "-c",
                       "trap 'echo bye; exit 5' TERM; echo ready; while :; do sleep 0.02; done"}));
    std::string line;
    ASSERT_TRUE(process.ReadFirstLine(line, 5));
    EXPECT_EQ(line, "ready");
    EXPECT_TRUE(process.Running());
    EXPECT_TRUE(process.Stop(5));
    EXPECT_FALSE(process.Running());
    const CProcessResult& result = process.Result();
    EXPECT_TRUE(result.ExitedWith(5)) << result.Describe();
    EXPECT_EQ(result.Out, "ready\nbye\n");
}

TEST(BackgroundProcess, StopKillsWhatIgnoresSigterm)
{
    CBackgroundProcess process;
    ASSERT_TRUE(
        process.Start({"/bin/sh", "-c", "trap '' TERM; echo ready; while :; do sleep 0.02; done"}));
    std::string line;
    ASSERT_TRUE(process.ReadFirstLine(line, 5));
    EXPECT_FALSE(process.Stop(0.3));
    EXPECT_FALSE(process.Running());
    EXPECT_EQ(process.Result().Signal, SIGKILL);
}

TEST(BackgroundProcess, WaitSeesTheProcessEndByItself)
{
    CBackgroundProcess process;
    ASSERT_TRUE(process.Start({"/bin/sh", "-c", "echo out; echo err >&2; exit 4"}));
    ASSERT_TRUE(process.Wait(5));
    EXPECT_TRUE(process.Result().ExitedWith(4));
    EXPECT_EQ(process.Stdout(), "out\n");
    EXPECT_EQ(process.Stderr(), "err\n");
    std::string line;
    EXPECT_TRUE(process.ReadFirstLine(line, 1));
    EXPECT_EQ(line, "out");
}

TEST(BackgroundProcess, FirstLineNeverComingIsReported)
{
    CBackgroundProcess process;
    ASSERT_TRUE(process.Start({"/bin/sh", "-c", "printf 'no line feed'"}));
    std::string line;
    EXPECT_FALSE(process.ReadFirstLine(line, 5));
}

TEST(TempDirectory, IsRemovedWithItsContents)
{
    std::string path;
    {
        CTempDirectory directory;
        ASSERT_TRUE(directory.Valid());
        path = directory.Path();
        ASSERT_TRUE(WriteFileText(directory.File("a.txt"), "x"));
        ASSERT_EQ(mkdir(directory.File("sub").c_str(), 0700), 0);
        ASSERT_TRUE(WriteFileText(directory.File("sub/b.txt"), "y"));
        EXPECT_TRUE(FileExists(directory.File("sub/b.txt")));
    }
    EXPECT_FALSE(FileExists(path));
}

TEST(Files, BytesRoundTripExactly)
{
    CTempDirectory directory;
    const std::vector<uint8_t> bytes{0x00, 0xFF, 0x0A, 0x0D, 0x00, 0x1A};
    ASSERT_TRUE(WriteFileBytes(directory.File("b.bin"), bytes));
    EXPECT_EQ(ReadFileBytes(directory.File("b.bin")), bytes);
    EXPECT_EQ(ReadFileText(directory.File("b.bin")), std::string("\0\xFF\n\r\0\x1A", 6));
    std::vector<uint8_t> missing{1};
    EXPECT_FALSE(ReadFileBytes(directory.File("none.bin"), missing));
    EXPECT_TRUE(missing.empty());
}

TEST(BoardFramesHelpers, FramesAreLittleEndianAndSplitWhole)
{
    EXPECT_EQ(MakeFrame(0xC0, 0x1A2B3C, 0x44),
              (std::vector<uint8_t>{0xC0, 0x3C, 0x2B, 0x1A, 0x44}));
    EXPECT_EQ(MakeProgramPair(0x000102, 0x99),
              (std::vector<uint8_t>{0x80, 0x33, 0x03, 0x00, 0xA0, 0xC0, 0x02, 0x01, 0x00, 0x99}));
    std::vector<uint8_t> stream = MakeProgramPair(5, 6);
    stream.push_back(0x00);
    const std::vector<CBoardFrame> frames = SplitFrames(stream);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1], (CBoardFrame{0xC0, 5, 0, 0, 6}));
}
