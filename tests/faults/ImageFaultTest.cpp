// Images that are not regular files, or that cannot be read: refused before the port is
// touched, and without waiting for anything.
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

// Opening a FIFO without a writer would wait for ever.
TEST_F(ImageFaultTest, FifoIsNotAnImage)
{
    std::string fifo = Files.File("image.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ExpectRefused(fifo, "File not found\n");
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
