// Standard streams that are closed or at end of file: the download must run as usual, never
// wait for a key, and keep console text off the serial line.
#include "tests/faults/FaultSupport.h"

#include <gtest/gtest.h>

namespace
{

class StreamFaultTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(WriteImageFile(Image, Plain));
        ASSERT_TRUE(Board.Start({"--erase-ms", "0"}));
    }

    // The board got exactly one download's frames and holds the image.
    void ExpectFlashed()
    {
        ASSERT_TRUE(Board.Stop()) << Board.Stderr();
        std::vector<uint8_t> flash = FlashAfterDownload(Plain);
        EXPECT_EQ(Board.Dump(), flash);
        EXPECT_EQ(Board.Trace().size() % 5, 0u);
        EXPECT_TRUE(Board.TraceFrames() == ExpectedDownloadFrames(flash, Plain.size(), 1, true))
            << Board.TraceFrames().size() << " frames; board log:\n"
            << Board.Stderr();
    }

    void ExpectOk(const CProcessResult& result)
    {
        EXPECT_TRUE(result.ExitedWith(1)) << result.Describe();
        EXPECT_EQ(ConsoleBody(result.Out),
                  EraseOkAtFirstPoll + StageLine("Program", static_cast<int>(Plain.size())) +
                      StageLine("Verify", static_cast<int>(Plain.size())) + "Time  <t>\n" +
                      OkEnding);
        EXPECT_LT(result.WallSeconds, 5);
    }

    CTempDirectory Files;
    std::string Image = Files.File("image.img");
    std::vector<uint8_t> Plain = PlainImage(500, 6);
    CBoardProcess Board;
};

TEST_F(StreamFaultTest, StdinAtEndOfFile)
{
    CProcessResult result =
        RunDownloaderWith({"-v", "-p", "7", Image}, Board.Device(), EStdin::DevNull);
    ExpectOk(result);
    ExpectFlashed();
}

TEST_F(StreamFaultTest, StdinAnEmptyPipe)
{
    CProcessResult result =
        RunDownloaderWith({"-v", "-p", "7", Image}, Board.Device(), EStdin::Text);
    ExpectOk(result);
    ExpectFlashed();
}

// With descriptor 0 closed the port must not become "stdin": the key wait would read the
// line.
TEST_F(StreamFaultTest, StdinClosed)
{
    CProcessResult result =
        RunDownloaderWith({"-v", "-p", "7", Image}, Board.Device(), EStdin::Closed);
    ExpectOk(result);
    ExpectFlashed();
}

// With descriptor 1 closed the port must not become "stdout": the console text would go to
// the board as frames.
TEST_F(StreamFaultTest, StdoutClosed)
{
    CProcessOptions options = DownloaderOptions(Board.Device());
    options.TimeoutSeconds = 30;
    CProcessResult result = RunProcess(
        {"/bin/sh", "-c", "exec \"$0\" \"$@\" >&-", ORBELT_DL_PATH, "-v", "-p", "7", Image},
        options);
    EXPECT_TRUE(result.ExitedWith(1)) << result.Describe();
    EXPECT_EQ(result.Out, "");
    EXPECT_LT(result.WallSeconds, 5);
    ExpectFlashed();
}

// A console that goes away after the first bytes (`orbelt-dl ... | head -c 22`) must not stop
// the flash halfway.
TEST_F(StreamFaultTest, StdoutPipeClosedEarly)
{
    CProcessOptions options = DownloaderOptions(Board.Device());
    options.TimeoutSeconds = 30;
    CProcessResult result = RunProcess(
        {"/bin/bash", "-c", "\"$0\" \"$@\" </dev/null | head -c 22; exit ${PIPESTATUS[0]}",
         ORBELT_DL_PATH, "-v", "-p", "7", Image},
        options);
    EXPECT_TRUE(result.ExitedWith(1)) << result.Describe();
    EXPECT_EQ(result.Out, "Orbelt UART Download U");
    ExpectFlashed();
}

} // namespace
