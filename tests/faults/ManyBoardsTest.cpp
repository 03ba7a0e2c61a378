// Eight boards flashed at once by eight orbelt-dl processes, and scripts/flash-many.
#include "tests/faults/FaultSupport.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>

namespace
{

const int BoardCount = 8;

std::string EndOf(const std::string& text, size_t length)
{
    return text.substr(text.size() - std::min(text.size(), length));
}

// flash-many's report: "Logs in DIR", then "COMn  VERDICT  SECONDS s" per port, e.g.
// "COM1 OK" for each line that has the right form.
std::vector<std::string> Verdicts(const std::string& out, const std::string& logs)
{
    std::istringstream lines(out);
    std::string line;
    std::vector<std::string> verdicts;
    if (!std::getline(lines, line) || line != "Logs in " + logs)
    {
        verdicts.push_back("bad first line: " + line);
    }
    while (std::getline(lines, line))
    {
        int port = 0;
        char verdict[8] = {};
        double seconds = -1;
        char unit[4] = {};
        int used = 0;
        if (std::sscanf(line.c_str(), "COM%d %7s %lf %3s%n", &port, verdict, &seconds, unit,
                        &used) != 4 ||
            used != static_cast<int>(line.size()) || std::string(unit) != "s" || seconds < 0)
        {
            verdicts.push_back("bad line: " + line);
            continue;
        }
        verdicts.push_back("COM" + std::to_string(port) + " " + verdict);
    }
    return verdicts;
}

// Each board gets its own image, so that a byte crossing over to the wrong line would show.
TEST(ManyBoardsTest, EightBoardsInParallel)
{
    CTempDirectory files;
    std::vector<std::vector<uint8_t>> plains;
    std::vector<std::unique_ptr<CBoardProcess>> boards;
    for (int i = 0; i < BoardCount; ++i)
    {
        plains.push_back(PlainImage(3000 + 64 * i, 20 + i));
        ASSERT_TRUE(WriteImageFile(files.File("image" + std::to_string(i)), plains.back()));
        boards.push_back(std::make_unique<CBoardProcess>());
        ASSERT_TRUE(boards.back()->Start({"--erase-ms", "200"}));
    }
    std::vector<std::unique_ptr<CBackgroundProcess>> downloads;
    for (int i = 0; i < BoardCount; ++i)
    {
        int port = i + 1;
        downloads.push_back(std::make_unique<CBackgroundProcess>());
        ASSERT_TRUE(downloads.back()->Start({ORBELT_DL_PATH, "-v", "-p", std::to_string(port),
                                             files.File("image" + std::to_string(i))},
                                            DownloaderOptions(boards[i]->Device(), port)));
    }
    for (int i = 0; i < BoardCount; ++i)
    {
        SCOPED_TRACE("COM" + std::to_string(i + 1));
        ASSERT_TRUE(downloads[i]->Wait(60));
        const CProcessResult& result = downloads[i]->Result();
        EXPECT_TRUE(result.ExitedWith(1)) << result.Describe();
        EXPECT_EQ(EndOf(ConsoleBody(result.Out), OkEnding.size()), OkEnding) << result.Out;
    }
    for (int i = 0; i < BoardCount; ++i)
    {
        SCOPED_TRACE("COM" + std::to_string(i + 1));
        ASSERT_TRUE(boards[i]->Stop()) << boards[i]->Stderr();
        EXPECT_TRUE(boards[i]->Dump() == FlashAfterDownload(plains[i]));
    }
}

class FlashManyTest : public ::testing::Test
{
  protected:
    // scripts/flash-many with COM1.. mapped to the boards.
    CProcessResult FlashMany(const std::vector<std::string>& arguments)
    {
        std::vector<std::string> argv{"/bin/bash", ORBELT_SOURCE_DIR "/scripts/flash-many"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        CProcessOptions options;
        options.Environment = {std::string("ORBELT_DL=") + ORBELT_DL_PATH,
                               "FLASH_MANY_LOGS=" + Files.File("logs")};
        for (size_t i = 0; i < Boards.size(); ++i)
        {
            options.Environment.push_back("ORBELT_COM" + std::to_string(i + 1) + "=" +
                                          Boards[i]->Device());
        }
        options.TimeoutSeconds = 60;
        return RunProcess(argv, options);
    }

    void StartBoards(const std::vector<std::vector<std::string>>& options)
    {
        for (const std::vector<std::string>& boardOptions : options)
        {
            Boards.push_back(std::make_unique<CBoardProcess>());
            ASSERT_TRUE(Boards.back()->Start(boardOptions));
        }
    }

    std::string Log(int port)
    {
        return ReadFileText(Files.File("logs/orbelt-dl-COM" + std::to_string(port) + ".log"));
    }

    CTempDirectory Files;
    std::string Image = Files.File("image.img");
    std::vector<uint8_t> Plain = PlainImage(2000, 31);
    std::vector<std::unique_ptr<CBoardProcess>> Boards;
};

TEST_F(FlashManyTest, AllBoardsOk)
{
    ASSERT_TRUE(WriteImageFile(Image, Plain));
    StartBoards({{"--erase-ms", "0"}, {"--erase-ms", "0"}, {"--erase-ms", "0"}});
    CProcessResult result = FlashMany({"-v", Image, "1", "2", "3"});

    EXPECT_TRUE(result.ExitedWith(0)) << result.Describe() << result.Out;
    EXPECT_EQ(Verdicts(result.Out, Files.File("logs")),
              (std::vector<std::string>{"COM1 OK", "COM2 OK", "COM3 OK"}));
    for (int port = 1; port <= 3; ++port)
    {
        SCOPED_TRACE("COM" + std::to_string(port));
        EXPECT_EQ(EndOf(Log(port), OkEnding.size()), OkEnding);
        EXPECT_NE(Log(port).find("Verify              "), std::string::npos);
        ASSERT_TRUE(Boards[port - 1]->Stop());
        EXPECT_TRUE(Boards[port - 1]->Dump() == FlashAfterDownload(Plain));
    }
}

TEST_F(FlashManyTest, OneFailingBoardFailsTheRun)
{
    ASSERT_TRUE(WriteImageFile(Image, Plain));
    StartBoards(
        {{"--erase-ms", "0"}, {"--erase-ms", "0", "--bad-cell", "100"}, {"--erase-ms", "0"}});
    // Options before the image reach every download as they are.
    CProcessResult result = FlashMany({"--stream", "-v", Image, "1", "2", "3"});

    EXPECT_TRUE(result.ExitedWith(1)) << result.Describe() << result.Out;
    EXPECT_EQ(Verdicts(result.Out, Files.File("logs")),
              (std::vector<std::string>{"COM1 OK", "COM2 NG", "COM3 OK"}));
    EXPECT_EQ(EndOf(Log(2), NgEnding.size()), NgEnding);
    EXPECT_NE(Log(2).find("Program Error\n"), std::string::npos) << Log(2);
    EXPECT_EQ(EndOf(Log(1), OkEnding.size()), OkEnding);
    EXPECT_EQ(EndOf(Log(3), OkEnding.size()), OkEnding);
}

TEST_F(FlashManyTest, RefusesBadPorts)
{
    ASSERT_TRUE(WriteImageFile(Image, Plain));
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{Image, "1", "1"},
                                                      {Image, "0"},
                                                      {Image, "251"},
                                                      {Image, "x"},
                                                      {Image},
                                                      {"-v", Image}})
    {
        CProcessResult result = FlashMany(arguments);
        EXPECT_TRUE(result.ExitedWith(2)) << result.Describe();
        EXPECT_EQ(result.Out, "");
    }
}

} // namespace
