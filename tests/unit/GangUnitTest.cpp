// The pieces of --ports in process: the port list, the events a run writes for its parent, and
// the screen the parent draws from them.
#include "app/Gang.h"
#include "app/GangScreen.h"
#include "app/RunRecord.h"
#include "base/ConsoleOut.h"
#include "base/Diagnostic.h"
#include "target/Progress.h"
#include "target/RunPlan.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace
{

TEST(PortList, TakesNumbersAndRangesOnce)
{
    const struct
    {
        const char* Text;
        std::vector<int> Ports; // empty: refused
        const char* Why;
    } rows[] = {
        {"1-4,7", {1, 2, 3, 4, 7}, ""},
        {"7,3,250", {3, 7, 250}, ""},
        {"5-5", {5}, ""},
        {"", {}, "give port numbers from 1 to 250"},
        {"1,,2", {}, "give port numbers from 1 to 250"},
        {"0", {}, "give port numbers from 1 to 250"},
        {"251", {}, "give port numbers from 1 to 250"},
        {"3-", {}, "give port numbers from 1 to 250"},
        {" 3", {}, "give port numbers from 1 to 250"},
        {"x", {}, "give port numbers from 1 to 250"},
        {"4-1", {}, "the range 4-1 runs backwards"},
        {"1-4,3", {}, "COM3 comes twice"},
    };
    int ports[MaxPortNumber];
    int count = 0;
    char why[160] = "";
    for (const auto& row : rows)
    {
        why[0] = '\0';
        const bool taken = ParsePortList(row.Text, ports, count, why);
        EXPECT_EQ(taken, !row.Ports.empty()) << row.Text;
        EXPECT_EQ(std::vector<int>(ports, ports + (taken ? count : 0)), row.Ports) << row.Text;
        EXPECT_NE(std::string(why).find(row.Why), std::string::npos) << row.Text << ": " << why;
    }
    ASSERT_TRUE(ParsePortList("1-250", ports, count, why));
    EXPECT_EQ(count, 250);
    EXPECT_EQ(ports[249], 250);
}

// What a run writes for a program: one object a line, the port and board on each, a figure only
// when it changes, and the record's keys at the start and the end.
TEST(Events, AreLinesOfJson)
{
    PortNumber = 7;
    RunMode = &ProgramRun;
    UseJsonEvents();
    TellEventsOfBoard(3);
    ::testing::internal::CaptureStdout();
    EnterStage("Program");
    ShowStage("Program");
    for (int offset : {0, 64, 128, 960, 1000})
    {
        ShowBlock(offset, 6400);
    }
    ShowStageDone();
    ShowSerialNumber(1001);
    CBoardRun run;
    run.Board = 3;
    TellRunStart(run);
    TellRunEnd(run, true);
    const std::string events = ::testing::internal::GetCapturedStdout();
    UseJsonEvents(false);
    TellEventsOfBoard(0);
    const std::vector<std::string> lines = {
        "{\"event\":\"stage\",\"port\":7,\"board\":3,\"stage\":\"Program\",\"label\":\"Program\"}",
        "{\"event\":\"progress\",\"port\":7,\"board\":3,\"stage\":\"Program\",\"percent\":0}",
        "{\"event\":\"progress\",\"port\":7,\"board\":3,\"stage\":\"Program\",\"percent\":1}",
        "{\"event\":\"progress\",\"port\":7,\"board\":3,\"stage\":\"Program\",\"percent\":2}",
        "{\"event\":\"progress\",\"port\":7,\"board\":3,\"stage\":\"Program\",\"percent\":15}",
        "{\"event\":\"progress\",\"port\":7,\"board\":3,\"stage\":\"Program\",\"percent\":100}",
        "{\"event\":\"serial\",\"port\":7,\"board\":3,\"serial\":1001}",
    };
    std::string expected;
    for (const std::string& line : lines)
    {
        expected += line + "\n";
    }
    ASSERT_EQ(events.substr(0, expected.size()), expected);
    const std::string rest = events.substr(expected.size());
    EXPECT_EQ(rest.rfind("{\"event\":\"start\",\"start\":\"", 0), 0u) << rest;
    EXPECT_NE(rest.find(",\"port\":7,\"device\":null,\"board\":3,\"image\":"), std::string::npos);
    EXPECT_NE(rest.find("\"mode\":\"program\"}\n{\"event\":\"end\",\"ok\":true,\"start\":\""),
              std::string::npos)
        << rest;
    EXPECT_EQ(rest.substr(rest.size() - 2), "}\n");
    EXPECT_EQ(std::count(rest.begin(), rest.end(), '\n'), 2);
}

// A line a port, its verdict where the colour goes, cut to the terminal's width; then the totals.
TEST(Screen, ShowsEachPortOnALineOfItsOwn)
{
    CPortView ports[3];
    ports[0].Port = 1;
    ports[0].Board = 2;
    ports[0].HasSerial = true;
    ports[0].Serial = 1003;
    snprintf(ports[0].State, sizeof ports[0].State, "Program         45 %%");
    ports[0].Last = VerdictOk;
    ports[0].LastSeconds = 9.84;
    ports[0].Passed = 1;
    ports[1].Port = 12;
    ports[1].Board = 1;
    snprintf(ports[1].State, sizeof ports[1].State, "waiting");
    ports[1].Last = VerdictNg;
    ports[1].LastSeconds = 2.1;
    ports[1].Failed = 1;
    ports[2].Port = 250;
    CScreenLine lines[4];
    ASSERT_EQ(ComposeScreen(ports, 3, {1, 1, 0.5}, 0, lines), 4);
    EXPECT_STREQ(lines[0].Text, "COM1    board 2   serial 1003       Program         45 %  "
                                "OK 9.8 s  (1 OK, 0 NG)");
    EXPECT_EQ(std::string(lines[0].Text).substr(lines[0].VerdictAt, lines[0].VerdictLength), "OK");
    EXPECT_EQ(lines[1].Verdict, VerdictNg);
    EXPECT_EQ(std::string(lines[1].Text).substr(lines[1].VerdictAt, lines[1].VerdictLength), "NG");
    EXPECT_EQ(lines[2].Text, "COM250" + std::string(30, ' ') + "starting" + std::string(14, ' '));
    EXPECT_EQ(lines[2].VerdictLength, 0);
    EXPECT_STREQ(lines[3].Text, "2 boards: 1 OK, 1 NG, 4 boards/h");
    ASSERT_EQ(ComposeScreen(ports, 3, {1, 1, 0.5}, 64, lines), 4);
    EXPECT_EQ(std::string(lines[0].Text).size(), 63u) << "cut, never wrapped";
    EXPECT_EQ(lines[0].VerdictLength, 2);
    ASSERT_EQ(ComposeScreen(ports, 3, {1, 1, 0.5}, 59, lines), 4);
    EXPECT_EQ(lines[0].VerdictLength, 0) << "the verdict cut off with its line";
    EXPECT_STREQ(VerdictColour(VerdictOk), "32");
    EXPECT_STREQ(VerdictColour(VerdictNg), "31");
    EXPECT_EQ(VerdictColour(VerdictNone), nullptr);
}

} // namespace
