// A port that another process holds: orbelt-dl must refuse it and send nothing on it; a port
// it used is left as it was found.
#include "tests/faults/FaultSupport.h"

#include <algorithm>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

std::string CannotOpen()
{
    return "Can't open COM7\n" + NgEnding;
}

std::string LockedDiagnostic(const std::string& path, pid_t owner, const std::string& device)
{
    return "orbelt-dl: cannot open " + path + ": locked by process " + std::to_string(owner) +
           " (" + LockFileOf(device) + ")\n";
}

pid_t DeadPid()
{
    pid_t child = fork();
    if (child == 0)
    {
        _exit(0);
    }
    waitpid(child, nullptr, 0);
    return child;
}

TEST(PortFaultTest, PortLockedByAnotherProgramIsRefused)
{
    CTempDirectory files;
    std::string image = files.File("image.img");
    ASSERT_TRUE(WriteImageFile(image, PlainImage(300, 2)));
    CBoardProcess board;
    ASSERT_TRUE(board.Start({"--erase-ms", "0"}));
    int holder = open(board.Device().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);

    CProcessResult result =
        RunDownloaderWith({"-v", "-p", "7", image}, board.Device(), EStdin::DevNull);
    close(holder);

    EXPECT_TRUE(result.ExitedWith(1)) << result.Describe();
    EXPECT_EQ(ConsoleBody(result.Out), CannotOpen());
    EXPECT_EQ(result.Err,
              "orbelt-dl: cannot open " + board.Device() + ": in use by another program\n");
    EXPECT_LT(result.WallSeconds, 6);
    ASSERT_TRUE(board.Stop()) << board.Stderr();
    EXPECT_TRUE(board.Trace().empty()) << board.Trace().size() << " bytes reached the board";
    EXPECT_EQ(board.Dump(), std::vector<uint8_t>(BoardFlashSize, 0xFF));
}

// The first download runs for a few seconds of erase polls; a second one started meanwhile on
// the same port must neither get in nor disturb it.
TEST(PortFaultTest, SecondDownloaderCannotTakeAPortInUse)
{
    CTempDirectory files;
    std::string image = files.File("image.img");
    std::vector<uint8_t> plain = PlainImage(300, 4);
    ASSERT_TRUE(WriteImageFile(image, plain));
    CBoardProcess board;
    ASSERT_TRUE(board.Start({"--erase-ms", "2500"}));

    CBackgroundProcess first;
    ASSERT_TRUE(
        first.Start({ORBELT_DL_PATH, "-v", "-p", "7", image}, DownloaderOptions(board.Device())));
    double deadline = MonotonicSeconds() + 10;
    while (first.Stdout().find('+') == std::string::npos && MonotonicSeconds() < deadline)
    {
        SleepFor(0.01);
    }
    ASSERT_NE(first.Stdout().find('+'), std::string::npos) << first.Stdout();
    std::string lock = LockFileOf(board.Device());
    EXPECT_EQ(ReadFileText(lock), LockText(first.Pid()));
    EXPECT_EQ(ExclusiveMode(board.Device()), 1);

    CProcessResult second =
        RunDownloaderWith({"-v", "-p", "7", image}, board.Device(), EStdin::DevNull);
    EXPECT_TRUE(second.ExitedWith(1)) << second.Describe();
    EXPECT_EQ(ConsoleBody(second.Out), CannotOpen());
    EXPECT_EQ(second.Err, LockedDiagnostic(board.Device(), first.Pid(), board.Device()));
    EXPECT_TRUE(first.Running()) << "the first download ended before the second one ran";

    ASSERT_TRUE(first.Wait(30));
    const CProcessResult& firstResult = first.Result();
    EXPECT_TRUE(firstResult.ExitedWith(1)) << firstResult.Describe();
    std::string body = ConsoleBody(firstResult.Out);
    EXPECT_EQ(body.substr(body.size() - std::min(body.size(), OkEnding.size())), OkEnding) << body;
    EXPECT_FALSE(FileExists(lock));
    EXPECT_EQ(ExclusiveMode(board.Device()), 0) << "exclusive mode left on the device";

    ASSERT_TRUE(board.Stop()) << board.Stderr();
    std::vector<uint8_t> flash = FlashAfterDownload(plain);
    EXPECT_EQ(board.Dump(), flash);
    // Exactly one download's frames: nothing of the second one's is among them.
    std::vector<CBoardFrame> frames = board.TraceFrames();
    int polls = ErasePolls(frames);
    EXPECT_GE(polls, 2);
    EXPECT_TRUE(frames == ExpectedDownloadFrames(flash, plain.size(), polls, true))
        << frames.size() << " frames";
    EXPECT_EQ(board.Trace().size() % 5, 0u);
}

// A download stopped by a signal ends through the normal exit: the device is put back then too.
TEST(PortFaultTest, StoppedDownloadLeavesNoTraceOnThePort)
{
    CTempDirectory files;
    std::string image = files.File("image.img");
    ASSERT_TRUE(WriteImageFile(image, PlainImage(300, 5)));
    CBoardProcess board;
    ASSERT_TRUE(board.Start({"--erase-ms", "2500"}));
    CBackgroundProcess run;
    ASSERT_TRUE(run.Start({ORBELT_DL_PATH, "-p", "7", image}, DownloaderOptions(board.Device())));
    double deadline = MonotonicSeconds() + 10;
    while (run.Stdout().find('+') == std::string::npos && MonotonicSeconds() < deadline)
    {
        SleepFor(0.01);
    }
    std::string lock = LockFileOf(board.Device());
    EXPECT_EQ(ReadFileText(lock), LockText(run.Pid()));

    ASSERT_TRUE(run.SendSignal(SIGTERM));
    ASSERT_TRUE(run.Wait(10));
    EXPECT_TRUE(run.Result().ExitedWith(128 + SIGTERM)) << run.Result().Describe();
    EXPECT_FALSE(FileExists(lock));
    EXPECT_EQ(ExclusiveMode(board.Device()), 0) << "exclusive mode left on the device";
}

// Terminal programs mark a port with a UUCP lock file; one whose process has gone is stale.
// The port is named through a link: the lock is the real device's.
TEST(PortFaultTest, LockFilesOfOtherProgramsAreHonoured)
{
    CTempDirectory files;
    std::string image = files.File("image.img");
    std::vector<uint8_t> plain = PlainImage(300, 3);
    ASSERT_TRUE(WriteImageFile(image, plain));
    CBoardProcess board;
    std::string link = files.File("port");
    ASSERT_TRUE(board.Start({"--erase-ms", "0", "--link", link}));
    std::string lock = LockFileOf(board.Device());
    ASSERT_TRUE(WriteFileText(lock, LockText(getpid())));

    CProcessResult locked = RunDownloaderWith({"-v", "-p", "7", image}, link, EStdin::DevNull);
    EXPECT_TRUE(locked.ExitedWith(1)) << locked.Describe();
    EXPECT_EQ(ConsoleBody(locked.Out), CannotOpen());
    EXPECT_EQ(locked.Err, LockedDiagnostic(link, getpid(), board.Device()));
    EXPECT_EQ(ReadFileText(lock), LockText(getpid())) << "another program's lock is kept";

    ASSERT_TRUE(WriteFileText(lock, LockText(DeadPid())));
    CProcessResult stale = RunDownloaderWith({"-v", "-p", "7", image}, link, EStdin::DevNull);
    EXPECT_TRUE(stale.ExitedWith(1)) << stale.Describe();
    std::string body = ConsoleBody(stale.Out);
    EXPECT_EQ(body.substr(body.size() - std::min(body.size(), OkEnding.size())), OkEnding) << body;
    EXPECT_FALSE(FileExists(lock)) << "the stale lock is replaced by ours, removed at exit";
    unlink(lock.c_str());

    ASSERT_TRUE(board.Stop()) << board.Stderr();
    std::vector<uint8_t> flash = FlashAfterDownload(plain);
    EXPECT_EQ(board.Dump(), flash);
    EXPECT_TRUE(board.TraceFrames() == ExpectedDownloadFrames(flash, plain.size(), 1, true))
        << "the refused run sent something";
}

// A device name longer than the port can hold is refused, not cut: this one, cut to 511 bytes,
// would name the board.
TEST(PortFaultTest, OverlongDeviceNameIsRefusedWhole)
{
    CTempDirectory files;
    std::string image = files.File("image.img");
    ASSERT_TRUE(WriteImageFile(image, PlainImage(64)));
    CBoardProcess board;
    ASSERT_TRUE(board.Start({"--erase-ms", "0"}));
    std::string overlong =
        std::string(511 - board.Device().size(), '/') + board.Device() + std::string(PATH_MAX, 'x');

    CProcessResult result = RunDownloaderWith({"-v", "-p", "7", image}, overlong, EStdin::DevNull);
    EXPECT_TRUE(result.ExitedWith(1)) << result.Describe();
    EXPECT_EQ(ConsoleBody(result.Out), CannotOpen());
    EXPECT_EQ(result.Err, "orbelt-dl: cannot open COM7: ORBELT_COM7 is longer than " +
                              std::to_string(PATH_MAX - 1) + " bytes\n");
    ASSERT_TRUE(board.Stop()) << board.Stderr();
    EXPECT_TRUE(board.Trace().empty()) << board.Trace().size() << " bytes reached the board";
}

} // namespace
