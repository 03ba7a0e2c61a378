// Eight boards flashed at once by eight orbelt-dl processes, and scripts/flash-many.
#include "tests/faults/FaultSupport.h"

#include <algorithm>
#include <csignal>
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

// flash-many's report: "Logs in DIR", then "COMn  VERDICT  SECONDS s[  REASON]" per port in
// the order they finish, then the count line. Returns e.g. "COM1 OK" per port, sorted, and the
// reasons of NG ports in *reasons.
std::vector<std::string> Verdicts(const std::string& out, const std::string& logs,
                                  std::vector<std::string>* reasons = nullptr)
{
    std::istringstream lines(out);
    std::string line;
    std::vector<std::string> verdicts;
    if (!std::getline(lines, line) || line != "Logs in " + logs)
    {
        verdicts.push_back("bad first line: " + line);
    }
    int ok = 0;
    int ng = 0;
    while (std::getline(lines, line) && line.rfind("COM", 0) == 0)
    {
        int port = 0;
        char verdict[8] = {};
        double seconds = -1;
        int used = 0;
        if (std::sscanf(line.c_str(), "COM%d %7s %lf s%n", &port, verdict, &seconds, &used) != 3 ||
            seconds < 0 || line.compare(static_cast<size_t>(used) - 2, 2, " s") != 0)
        {
            verdicts.push_back("bad line: " + line);
            continue;
        }
        std::string reason = line.substr(static_cast<size_t>(used));
        bool isOk = std::string(verdict) == "OK";
        (isOk ? ok : ng) += 1;
        if (isOk != reason.empty() || (!isOk && reason.rfind("  ", 0) != 0))
        {
            verdicts.push_back("bad reason: " + line);
        }
        if (!isOk && reasons != nullptr)
        {
            reasons->push_back(reason.substr(2));
        }
        verdicts.push_back("COM" + std::to_string(port) + " " + verdict);
    }
    while (line.rfind("Results in ", 0) == 0 || line == "Interrupted")
    {
        std::getline(lines, line);
    }
    if (line != std::to_string(ok) + " OK, " + std::to_string(ng) + " NG")
    {
        verdicts.push_back("bad count line: " + line);
    }
    std::sort(verdicts.begin(), verdicts.end());
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
    CProcessOptions FlashManyOptions()
    {
        CProcessOptions options;
        options.Environment = {std::string("ORBELT_DL=") + ORBELT_DL_PATH,
                               "FLASH_MANY_LOGS=" + Files.File("logs")};
        for (size_t i = 0; i < Boards.size(); ++i)
        {
            options.Environment.push_back("ORBELT_COM" + std::to_string(i + 1) + "=" +
                                          Boards[i]->Device());
        }
        options.TimeoutSeconds = 60;
        return options;
    }

    CProcessResult FlashMany(const std::vector<std::string>& arguments)
    {
        std::vector<std::string> argv{"/bin/bash", ORBELT_SOURCE_DIR "/scripts/flash-many"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return RunProcess(argv, FlashManyOptions());
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
    std::vector<std::string> reasons;
    EXPECT_EQ(Verdicts(result.Out, Files.File("logs"), &reasons),
              (std::vector<std::string>{"COM1 OK", "COM2 NG", "COM3 OK"}));
    ASSERT_EQ(reasons.size(), 1u);
    EXPECT_EQ(reasons[0].rfind("program error at 0x000064: third reply byte 0x", 0), 0u)
        << reasons[0];
    // The log holds the console bytes alone, diagnostics apart.
    EXPECT_EQ(ConsoleBody(Log(2)), EraseOkAtFirstPoll +
                                       StageUpTo("Program", static_cast<int>(Plain.size()), 1) +
                                       "Program Error\n" + ErrorMarker + "Time  <t>\n" + NgEnding);
    EXPECT_EQ(ReadFileText(Files.File("logs/orbelt-dl-COM2.err")).rfind("orbelt-dl: ", 0), 0u);
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
                                                      {"-v", Image},
                                                      {"--result", "", Image, "1"},
                                                      {"-x", Image, "1"}})
    {
        CProcessResult result = FlashMany(arguments);
        EXPECT_TRUE(result.ExitedWith(2)) << result.Describe();
        EXPECT_EQ(result.Out, "");
    }
    CProcessResult help = FlashMany({"--help"});
    EXPECT_TRUE(help.ExitedWith(0)) << help.Describe();
    EXPECT_EQ(help.Out.rfind("usage: ", 0), 0u) << help.Out;
}

// A missing or empty image is one error before anything starts.
TEST_F(FlashManyTest, ImageIsCheckedUpFront)
{
    ASSERT_TRUE(WriteFileBytes(Image, {}));
    for (const std::string& image : {Image, Files.File("missing.img")})
    {
        CProcessResult result = FlashMany({image, "1", "2"});
        EXPECT_TRUE(result.ExitedWith(2)) << result.Describe();
        EXPECT_EQ(result.Out, "");
        EXPECT_EQ(std::count(result.Err.begin(), result.Err.end(), '\n'), 1) << result.Err;
        EXPECT_NE(result.Err.find(image), std::string::npos) << result.Err;
    }
    EXPECT_FALSE(FileExists(Files.File("logs")));
}

TEST_F(FlashManyTest, SharedResultFileHasOneJsonLinePerBoard)
{
    ASSERT_TRUE(WriteImageFile(Image, Plain));
    StartBoards({{"--erase-ms", "0"}, {"--erase-ms", "0", "--bad-cell", "100"}});
    std::string record = Files.File("runs.jsonl");
    CProcessResult result = FlashMany({"--result", record, Image, "1", "2"});
    EXPECT_TRUE(result.ExitedWith(1)) << result.Describe();
    EXPECT_NE(result.Out.find("\nResults in " + record + "\n"), std::string::npos) << result.Out;
    CProcessResult parsed =
        RunProcess({"/usr/bin/python3", "-c",
                    "import json, sys\n"
                    "runs = [json.loads(line) for line in open(sys.argv[1])]\n"
                    "print(sorted((run['port'], run['result'], run['mode']) for run in runs))",
                    record});
    ASSERT_TRUE(parsed.ExitedWith(0)) << parsed.Describe();
    EXPECT_EQ(parsed.Out, "[(1, 'OK', 'program'), (2, 'NG', 'program')]\n");
}

// --skip-blank reaches each download: its record counts the bytes of 0xFF left out.
TEST_F(FlashManyTest, SkipBlankIsPassedOn)
{
    std::vector<uint8_t> plain = Plain;
    std::fill(plain.begin() + 64, plain.begin() + 192, 0xFF);
    ASSERT_TRUE(WriteImageFile(Image, plain));
    StartBoards({{"--erase-ms", "0"}});
    std::string record = Files.File("runs.jsonl");
    CProcessResult result = FlashMany({"--skip-blank", "-v", "--result", record, Image, "1"});
    EXPECT_TRUE(result.ExitedWith(0)) << result.Describe();
    const std::vector<uint8_t> flash = FlashAfterDownload(plain);
    const auto blank = std::count(flash.begin(), flash.begin() + 2048, 0xFF);
    ASSERT_GE(blank, 128);
    EXPECT_NE(ReadFileText(record).find(",\"skipped_bytes\":" + std::to_string(blank) + "}\n"),
              std::string::npos)
        << ReadFileText(record);
    ASSERT_TRUE(Boards[0]->Stop());
    EXPECT_TRUE(Boards[0]->Dump() == flash);
}

// Ctrl-C reaches the whole process group, as from a terminal: every download stops and each
// port is still reported.
TEST_F(FlashManyTest, CtrlCStopsEveryDownload)
{
    ASSERT_TRUE(WriteImageFile(Image, Plain));
    StartBoards({{"--erase-never"}, {"--erase-never"}});
    CBackgroundProcess flashMany;
    ASSERT_TRUE(
        flashMany.Start({"/bin/bash", ORBELT_SOURCE_DIR "/scripts/flash-many", Image, "1", "2"},
                        FlashManyOptions()));
    for (int port = 1; port <= 2; ++port)
    {
        double deadline = MonotonicSeconds() + 10;
        while (Log(port).find('+') == std::string::npos && MonotonicSeconds() < deadline)
        {
            SleepFor(0.05);
        }
    }
    ASSERT_EQ(kill(-flashMany.Pid(), SIGINT), 0);
    ASSERT_TRUE(flashMany.Wait(5)) << "the downloads went on";
    const CProcessResult& result = flashMany.Result();
    EXPECT_TRUE(result.ExitedWith(130)) << result.Describe();
    EXPECT_EQ(Verdicts(result.Out, Files.File("logs")),
              (std::vector<std::string>{"COM1 NG", "COM2 NG"}));
    EXPECT_NE(result.Out.find("\nInterrupted\n0 OK, 2 NG\n"), std::string::npos) << result.Out;
    // Nothing goes on sending to the boards.
    size_t sent = Boards[0]->Trace().size() + Boards[1]->Trace().size();
    SleepFor(1.5);
    EXPECT_EQ(Boards[0]->Trace().size() + Boards[1]->Trace().size(), sent);
}

} // namespace

namespace
{

// A station per port, one live line each; Ctrl-C once both boards are flashed ends them all.
TEST_F(FlashManyTest, StationsShowALineEachUntilCtrlC)
{
    ASSERT_TRUE(WriteImageFile(Image, Plain));
    StartBoards({{"--erase-ms", "0", "--baud", "115200"},
                 {"--erase-ms", "0", "--baud", "115200", "--bad-cell", "100"}});
    CBackgroundProcess flashMany;
    ASSERT_TRUE(flashMany.Start(
        {"/bin/bash", ORBELT_SOURCE_DIR "/scripts/flash-many", "--station", "-v", Image, "1", "2"},
        FlashManyOptions()));
    for (int port = 1; port <= 2; ++port)
    {
        const double deadline = MonotonicSeconds() + 30;
        while (Log(port).find("Board 2: remove board 1") == std::string::npos &&
               MonotonicSeconds() < deadline)
        {
            SleepFor(0.05);
        }
    }
    ASSERT_EQ(kill(-flashMany.Pid(), SIGINT), 0);
    ASSERT_TRUE(flashMany.Wait(10)) << "the stations went on";
    const CProcessResult& result = flashMany.Result();
    EXPECT_TRUE(result.ExitedWith(1)) << result.Describe() << result.Out;
    std::istringstream lines(result.Out);
    std::vector<std::string> last(3);
    bool progress = false;
    for (std::string line; std::getline(lines, line);)
    {
        int port = 0;
        if (std::sscanf(line.c_str(), "COM%d ", &port) == 1 && port >= 1 && port <= 2)
        {
            last[port] = line;
            progress = progress || line.find(": Program ") != std::string::npos;
        }
    }
    EXPECT_EQ(last[1], "COM1    1 board flashed: 1 OK, 0 NG") << result.Out;
    EXPECT_EQ(last[2], "COM2    1 board flashed: 0 OK, 1 NG") << result.Out;
    EXPECT_TRUE(progress) << result.Out;
    EXPECT_EQ(EndOf(result.Out, 11), "1 OK, 1 NG\n");
}

} // namespace
