// Images that are directories, empty or cannot be read: refused before the port is touched,
// and without waiting for anything. A pipe is an image like a file.
#include "tests/faults/FaultSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace
{

class ImageFaultTest : public ::testing::Test
{
  protected:
    void SetUp() override { ASSERT_TRUE(Board.Start({"--erase-ms", "0"})); }

    // Runs orbelt-dl -v on path and checks it printed only message before the NG banner.
    void ExpectRefused(const std::string& path, const std::string& message)
    {
        CProcessResult result =
            RunDownloaderWith({"-v", "-p", "7", path}, Board.Device(), EStdin::DevNull, 10);
        EXPECT_TRUE(result.ExitedWith(1)) << result.Describe();
        EXPECT_EQ(ConsoleBody(result.Out), message + NgEnding);
        EXPECT_LT(result.WallSeconds, 6);
        ASSERT_TRUE(Board.Stop()) << Board.Stderr();
        EXPECT_TRUE(Board.Trace().empty()) << Board.Trace().size() << " bytes reached the board";
        EXPECT_EQ(Board.Stderr().find("host closed"), std::string::npos) << "the port was opened:\n"
                                                                         << Board.Stderr();
    }

    CTempDirectory Files;
    CBoardProcess Board;
};

TEST_F(ImageFaultTest, EmptyImageIsRefused)
{
    ASSERT_TRUE(WriteFileBytes(Files.File("empty.img"), {}));
    ExpectRefused(Files.File("empty.img"), "Empty image file\n");
}

// `cat image | orbelt-dl -p 7 /dev/stdin`: a pipe is read like a file.
TEST_F(ImageFaultTest, PipeIsAnImage)
{
    std::vector<uint8_t> plain = PlainImage(300, 4);
    ASSERT_TRUE(WriteImageFile(Files.File("image.img"), plain));
    std::vector<uint8_t> scrambled = ReadFileBytes(Files.File("image.img"));
    CProcessOptions options = DownloaderOptions(Board.Device());
    options.Stdin = EStdin::Text;
    options.StdinText.assign(scrambled.begin(), scrambled.end());
    CProcessResult result = RunProcess({ORBELT_DL_PATH, "-p", "7", "/dev/stdin"}, options);
    EXPECT_TRUE(result.ExitedWith(1)) << result.Describe();
    EXPECT_EQ(ConsoleBody(result.Out),
              EraseOkAtFirstPoll + StageLine("Program", 300) + "Time  <t>\n" + OkEnding);
    EXPECT_EQ(result.Err, "") << "a pipe with a writer opens at once";
    ASSERT_TRUE(Board.Stop()) << Board.Stderr();
    EXPECT_EQ(Board.Dump(), FlashAfterDownload(plain));
}

// A named pipe that nothing writes yet: the run says, once, that it waits, then takes the image.
TEST_F(ImageFaultTest, PipeWithoutAWriterIsSaidToBeWaitedFor)
{
    const std::string fifo = Files.File("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    CBackgroundProcess run;
    ASSERT_TRUE(run.Start({ORBELT_DL_PATH, "-p", "7", "--no-wait", fifo},
                          DownloaderOptions(Board.Device())));
    const std::string line =
        "orbelt-dl: image " + fifo + " is a pipe that nothing writes yet: the run waits for it\n";
    ASSERT_TRUE(WaitUntil([&] { return run.Stderr() == line; }, 10)) << run.Stderr();
    ASSERT_TRUE(WriteImageFile(fifo, PlainImage(300, 4)));
    ASSERT_TRUE(run.Wait(20));
    EXPECT_TRUE(run.Result().ExitedWith(0)) << run.Result().Describe();
    EXPECT_EQ(run.Result().Err, line);
}

TEST_F(ImageFaultTest, DirectoryIsNotAnImage)
{
    ExpectRefused(Files.Path(), "File not found\n");
}

// /proc/self/mem is a regular file whose first page, address 0, is never mapped: reading it
// fails with EIO in the reader itself.
TEST_F(ImageFaultTest, ReadErrorSendsNothing)
{
    struct stat status
    {
    };
    ASSERT_EQ(stat("/proc/self/mem", &status), 0);
    ASSERT_TRUE(S_ISREG(status.st_mode));
    ExpectRefused("/proc/self/mem", "File read error\n");
}

} // namespace
