// --ports end to end: one worker a port against orbelt-board, what the parent reports and
// records, and how it ends when a worker dies, on Ctrl-C, and with stations that number boards.
#include "tests/e2e/DownloadFixture.h"
#include "tests/faults/FaultSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <dirent.h>
#include <map>
#include <memory>
#include <regex>
#include <sstream>

namespace
{

// The processes whose command line holds text and image, such as this test's worker of one port
// (other tests' workers run beside them).
std::vector<pid_t> ProcessesWith(const std::string& text, const std::string& image)
{
    std::vector<pid_t> found;
    DIR* proc = opendir("/proc");
    while (const dirent* entry = proc != nullptr ? readdir(proc) : nullptr)
    {
        std::string line = ReadFileText(std::string("/proc/") + entry->d_name + "/cmdline");
        std::replace(line.begin(), line.end(), '\0', ' ');
        if (line.find(text) != std::string::npos && line.find(image) != std::string::npos &&
            line.find(ORBELT_DL_PATH) == 0)
        {
            found.push_back(static_cast<pid_t>(atoi(entry->d_name)));
        }
    }
    if (proc != nullptr)
    {
        closedir(proc);
    }
    return found;
}

class GangTest : public ::testing::Test
{
  protected:
    void StartBoards(const std::vector<std::vector<std::string>>& options,
                     EStdin input = EStdin::DevNull)
    {
        for (const std::vector<std::string>& boardOptions : options)
        {
            Boards.push_back(std::make_unique<CBoardProcess>());
            ASSERT_TRUE(Boards.back()->Start(boardOptions, 10, input));
        }
    }

    std::vector<std::string> Command(const std::vector<std::string>& arguments)
    {
        std::vector<std::string> argv = {
            ORBELT_DL_PATH, "--ports",          "1-" + std::to_string(Boards.size()),
            "--log-dir",    Files.File("logs"), "--no-wait"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return argv;
    }

    CProcessOptions Options()
    {
        CProcessOptions options;
        for (size_t i = 0; i < Boards.size(); ++i)
        {
            options.Environment.push_back("ORBELT_COM" + std::to_string(i + 1) + "=" +
                                          Boards[i]->Device());
        }
        options.TimeoutSeconds = 60;
        return options;
    }

    std::string Log(int port)
    {
        return ReadFileText(Files.File("logs/COM" + std::to_string(port) + "-console.log"));
    }

    // The summary's verdict of each port: "COM2    NG     1.3 s  reason" gives {2, "NG reason"}.
    static std::map<int, std::string> Verdicts(const std::string& out)
    {
        std::map<int, std::string> verdicts;
        std::istringstream lines(out);
        const std::regex summary("COM([0-9]+) +(OK|NG) +[0-9]+\\.[0-9] s(  (.*))?");
        std::smatch match;
        for (std::string line; std::getline(lines, line);)
        {
            if (std::regex_match(line, match, summary))
            {
                verdicts[std::stoi(match[1])] =
                    match[2].str() + (match[4].matched ? " " + match[4].str() : "");
            }
        }
        return verdicts;
    }

    // The records of runs.jsonl as "port result reason", sorted.
    std::string Records()
    {
        CProcessResult parsed = RunProcess(
            {"/usr/bin/python3", "-c",
             "import json, sys\n"
             "runs = [json.loads(line) for line in open(sys.argv[1])]\n"
             "for run in sorted(runs, key=lambda run: (run['port'], run.get('board', 0))):\n"
             "    print(run['port'], run.get('board', '-'), run.get('serial', '-'), run['result'], "
             "run['reason'])",
             Files.File("runs.jsonl")});
        return parsed.ExitedWith(0) ? parsed.Out : parsed.Describe();
    }

    CTempDirectory Files;
    std::string Image = Files.File("image.img");
    std::vector<uint8_t> Plain = PlainImage(2000, 31);
    std::vector<std::unique_ptr<CBoardProcess>> Boards;
};

// Four boards at once, one with a bad cell: each port's verdict, its record, its flash and its
// transcript, and the exit status.
TEST_F(GangTest, FourBoardsOneFailing)
{
    ASSERT_TRUE(WriteImageFile(Image, Plain));
    const std::vector<std::string> quick = {"--erase-ms", "0"};
    StartBoards({quick, quick, {"--erase-ms", "0", "--bad-cell", "100"}, quick});
    CProcessResult result = RunProcess(
        Command({"-v", "--stream", "--result", Files.File("runs.jsonl"), Image}), Options());
    EXPECT_TRUE(result.ExitedWith(1)) << result.Describe() << result.Out;
    std::map<int, std::string> verdicts = Verdicts(result.Out);
    ASSERT_EQ(verdicts.size(), 4u) << result.Out;
    EXPECT_EQ(verdicts[3].rfind("NG program error at 0x000064: third reply byte 0x", 0), 0u);
    EXPECT_EQ(verdicts[1] + verdicts[2] + verdicts[4], "OKOKOK");
    EXPECT_NE(result.Out.find("Logs in " + Files.File("logs") + "\n"), std::string::npos);
    EXPECT_NE(result.Out.find("\n4 ports: 3 OK, 1 NG\n"), std::string::npos) << result.Out;
    EXPECT_NE(result.Out.find("COM3 board 1: NG "), std::string::npos) << "a plain line an event";
    EXPECT_EQ(result.Out.find('\x1b'), std::string::npos) << "no escape sequence on a pipe";
    const std::string records = Records();
    EXPECT_EQ(std::count(records.begin(), records.end(), '\n'), 4) << records;
    EXPECT_NE(records.find("1 - - OK None\n2 - - OK None\n3 - - NG program error at 0x000064"),
              std::string::npos)
        << records;
    // The transcript: the console of a single run, byte for byte, and the diagnostic beside it.
    EXPECT_EQ(ConsoleBody(Log(3)),
              EraseOkAtFirstPoll + StageUpTo("Program", static_cast<int>(Plain.size()), 1) +
                  "Program Error\n" + verdicts[3].substr(3).insert(0, "orbelt-dl: ") + "\n" +
                  ErrorMarker + "Time  <t>\n" + NgEnding);
    for (int port : {1, 2, 4})
    {
        ASSERT_TRUE(Boards[port - 1]->Stop());
        EXPECT_TRUE(Boards[port - 1]->Dump() == FlashAfterDownload(Plain)) << port;
        EXPECT_EQ(ConsoleBody(Log(port)).substr(ConsoleBody(Log(port)).size() - OkEnding.size()),
                  OkEnding);
    }
}

// A worker killed while it programs: its port is NG with a record from the parent, the other
// goes on to the end.
TEST_F(GangTest, AWorkerKilledMidProgramIsReportedAndTheOthersGoOn)
{
    ASSERT_TRUE(WriteImageFile(Image, PlainImage(8192, 3)));
    const std::vector<std::string> paced = {"--erase-ms", "0", "--baud", "115200"};
    StartBoards({paced, paced});
    CBackgroundProcess gang;
    ASSERT_TRUE(gang.Start(Command({"--result", Files.File("runs.jsonl"), Image}), Options()));
    ASSERT_TRUE(WaitUntil([&] { return Log(2).find(" 25 %") != std::string::npos; }, 30));
    const std::vector<pid_t> worker = ProcessesWith("--worker -p 2 ", Image);
    ASSERT_EQ(worker.size(), 1u);
    ASSERT_EQ(kill(worker[0], SIGKILL), 0);
    ASSERT_TRUE(gang.Wait(60));
    const CProcessResult& result = gang.Result();
    EXPECT_TRUE(result.ExitedWith(1)) << result.Describe();
    std::map<int, std::string> verdicts = Verdicts(result.Out);
    EXPECT_EQ(verdicts[1], "OK") << result.Out;
    EXPECT_EQ(verdicts[2], "NG the worker of COM2 was ended by signal 9") << result.Out;
    EXPECT_NE(Records().find("1 - - OK None\n2 - - NG the worker of COM2 was ended by signal 9\n"),
              std::string::npos)
        << Records();
}

// Ctrl-C from the terminal reaches the parent and its workers, and a parent killed outright
// leaves its workers without their input: each stops as a single run stops, with the chip out
// of unlock bypass, and no worker is left.
TEST_F(GangTest, CtrlCOrAKilledParentStopsEveryWorkerWithTheChipOutOfBypass)
{
    ASSERT_TRUE(WriteImageFile(Image, PlainImage(8192, 3)));
    for (bool killed : {false, true})
    {
        SCOPED_TRACE(killed ? "parent killed" : "Ctrl-C");
        Boards.clear();
        const std::vector<std::string> paced = {"--erase-ms", "0", "--baud", "115200"};
        StartBoards({paced, paced});
        std::remove(Files.File("logs/COM1-console.log").c_str());
        std::remove(Files.File("logs/COM2-console.log").c_str());
        CBackgroundProcess gang;
        ASSERT_TRUE(gang.Start(Command({Image}), Options()));
        ASSERT_TRUE(WaitUntil(
            [&] {
                return Log(1).find(" 25 %") != std::string::npos &&
                       Log(2).find(" 25 %") != std::string::npos;
            },
            30));
        ASSERT_EQ(killed ? kill(gang.Pid(), SIGKILL) : kill(-gang.Pid(), SIGINT), 0);
        ASSERT_TRUE(gang.Wait(10));
        EXPECT_TRUE(killed ? gang.Result().Signal == SIGKILL : gang.Result().ExitedWith(130))
            << gang.Result().Describe();
        EXPECT_TRUE(WaitUntil([&] { return ProcessesWith("--worker", Image).empty(); }, 5));
        SleepFor(0.5); // the paced boards work through the frames on their lines
        for (const std::unique_ptr<CBoardProcess>& board : Boards)
        {
            const std::vector<CBoardFrame> frames = board->TraceFrames();
            ASSERT_GE(frames.size(), 4u);
            EXPECT_TRUE(std::vector<CBoardFrame>(frames.end() - 2, frames.end()) ==
                        LeaveBypassFrames);
            EXPECT_EQ(frames.end()[-4], Cycle(0x333, 0xA0)) << "a program pair was cut";
        }
    }
}

// Stations on two ports share one counter: no number twice, and a board that passed on one port
// is left alone when it is put on the other.
TEST_F(GangTest, StationsOnTwoPortsNumberEachBoardOnce)
{
    ASSERT_TRUE(WriteImageFile(Image, Plain));
    StartBoards({{"--erase-ms", "0"}, {"--erase-ms", "0"}}, EStdin::Pipe);
    const std::string counter = Files.File("serial.txt");
    ASSERT_TRUE(WriteFileText(counter, "500\n"));
    CBackgroundProcess gang;
    ASSERT_TRUE(gang.Start(Command({"--station", "-v", "--serial-at", "0x40", "--serial-file",
                                    counter, "--result", Files.File("runs.jsonl"), Image}),
                           Options()));
    auto shown = [&](int port, const std::string& text)
    { return WaitUntil([&] { return Log(port).find(text) != std::string::npos; }, 20); };
    ASSERT_TRUE(shown(1, "Board 2: remove board 1") && shown(2, "Board 2: remove board 1"));
    // The board of port 1 moves to port 2.
    ASSERT_TRUE(Boards[0]->Control("off", "board off"));
    ASSERT_TRUE(Boards[0]->Control("dump " + Files.File("moved.bin"), "flash written"));
    ASSERT_TRUE(Boards[1]->Control("off", "board off"));
    ASSERT_TRUE(shown(2, "Board 2: waiting"));
    ASSERT_TRUE(
        Boards[1]->Control("on --erase-ms 0 --image " + Files.File("moved.bin"), "new board"));
    const std::regex again("Board 2: board 50[01] again: remove it");
    ASSERT_TRUE(WaitUntil([&] { return std::regex_search(Log(2), again); }, 20)) << Log(2);
    ASSERT_EQ(kill(-gang.Pid(), SIGINT), 0);
    ASSERT_TRUE(gang.Wait(10));
    const CProcessResult& result = gang.Result();
    EXPECT_TRUE(result.ExitedWith(130)) << result.Describe();
    EXPECT_NE(
        result.Out.find("COM1    1 board flashed: 1 OK, 0 NG\nCOM2    1 board flashed: 1 OK, 0 NG\n"
                        "2 boards flashed on 2 ports: 2 OK, 0 NG\n"),
        std::string::npos)
        << result.Out;
    const std::string records = Records();
    EXPECT_TRUE(
        std::regex_match(records, std::regex("1 1 50([01]) OK None\n2 1 50(?!\\1)[01] OK None\n")))
        << records;
    EXPECT_EQ(ReadFileText(counter), "502\nfirst 500\n");
}

// A bad image or list is one message: no worker starts, no log folder is made.
TEST_F(GangTest, AnImageThatWillNotLoadStartsNothing)
{
    StartBoards({{"--erase-ms", "0"}});
    CProcessResult result = RunProcess(Command({Files.File("missing.img")}), Options());
    EXPECT_TRUE(result.ExitedWith(1)) << result.Describe();
    EXPECT_EQ(ConsoleBody(result.Out), "File not found\n" + NgEnding);
    EXPECT_EQ(std::count(result.Err.begin(), result.Err.end(), '\n'), 1) << result.Err;
    EXPECT_FALSE(FileExists(Files.File("logs")));
    ASSERT_TRUE(Boards[0]->Stop());
    EXPECT_TRUE(Boards[0]->Trace().empty());
}

} // namespace
