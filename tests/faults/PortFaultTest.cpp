// A port that another process holds: orbelt-dl must refuse it and send nothing on it.
#include "tests/faults/FaultSupport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

namespace
{

std::string CannotOpen()
{
    return "Can't open COM7\n" + NgEnding;
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
    EXPECT_LT(result.WallSeconds, 2);
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

    CProcessResult second =
        RunDownloaderWith({"-v", "-p", "7", image}, board.Device(), EStdin::DevNull);
    EXPECT_TRUE(second.ExitedWith(1)) << second.Describe();
    EXPECT_EQ(ConsoleBody(second.Out), CannotOpen());
    EXPECT_TRUE(first.Running()) << "the first download ended before the second one ran";

    ASSERT_TRUE(first.Wait(30));
    const CProcessResult& firstResult = first.Result();
    EXPECT_TRUE(firstResult.ExitedWith(1)) << firstResult.Describe();
    std::string body = ConsoleBody(firstResult.Out);
    EXPECT_EQ(body.substr(body.size() - std::min(body.size(), OkEnding.size())), OkEnding) << body;

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

} // namespace
