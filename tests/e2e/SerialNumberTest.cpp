// Serial numbers through the real orbelt-dl against orbelt-board: the console line, the flash,
// the counter file, and a run killed once it has its number.
#include "tests/e2e/DownloadFixture.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <thread>

TEST_F(DownloadTest, ARunShowsAndWritesItsSerialNumber)
{
    const std::vector<uint8_t> plain = PlainImage(1000);
    const std::string counter = Files.File("serial.txt");
    ASSERT_TRUE(WriteFileText(counter, "1000\n"));
    CProcessResult result = Run(FastErase, {"-v", "-p", "7", "--serial-at", "0x20", "--serial-file",
                                            counter, "--serial-format", "dec5", Image(plain)});
    EXPECT_EQ(ConsoleBody(result.Out), "Serial    1000\n" + EraseOkAtFirstPoll +
                                           StageLine("Program", 1000) + StageLine("Verify", 1000) +
                                           "Time  <t>\n" + OkEnding);
    std::vector<uint8_t> numbered = plain;
    std::copy_n("01000", 5, numbered.begin() + 0x20);
    EXPECT_TRUE(Board.Dump() == FlashAfterDownload(numbered));
    EXPECT_EQ(ReadFileText(counter), "1001\nfirst 1000\n");
}

// Killed while the chip erases: the number it showed stays taken.
TEST_F(DownloadTest, AKilledRunStillAdvancesTheFile)
{
    const std::string counter = Files.File("serial.txt");
    ASSERT_TRUE(WriteFileText(counter, "77\n"));
    ASSERT_TRUE(Board.Start({"--erase-ms", "60000"}));
    CProcessOptions options;
    options.Environment.push_back("ORBELT_COM7=" + Board.Device());
    CBackgroundProcess run;
    ASSERT_TRUE(run.Start({ORBELT_DL_PATH, "-p", "7", "--serial-at", "0", "--serial-file", counter,
                           Image(PlainImage(100))},
                          options));
    for (double end = MonotonicSeconds() + 30;
         run.Stdout().find("Erase") == std::string::npos && MonotonicSeconds() < end;)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(run.SendSignal(SIGKILL));
    ASSERT_TRUE(run.Wait(10));
    EXPECT_EQ(ConsoleBody(run.Stdout()).rfind("Serial    77\nErase", 0), 0u) << run.Stdout();
    EXPECT_EQ(ReadFileText(counter), "78\nfirst 77\n");
    EXPECT_TRUE(Board.Stop());
}
