#include "board/BoardCommands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(BoardCommands, LinesAreReadOrRefusedNamingTheCulprit)
{
    struct SCase
    {
        std::string Line;
        ECommand Kind;       // when accepted
        std::string Refusal; // part of the error; empty when accepted
    };
    const std::vector<SCase> cases{
        {"", ECommand::None, ""},
        {" \t\r", ECommand::None, ""},
        {"off", ECommand::Off, ""},
        {"  off \r", ECommand::Off, ""},
        {"on", ECommand::On, ""},
        {"on --image a.bin --stop-after=3", ECommand::On, ""},
        {"on --chip Am29LV001BT --protect 9 --no-chip", ECommand::On, ""},
        {"dump /tmp/x.bin", ECommand::Dump, ""},
        {"vanish", ECommand::Vanish, ""},
        {"return", ECommand::Return, ""},
        {"Off", ECommand::None, "unknown command 'Off'"},
        {"off now", ECommand::None, "off takes no arguments"},
        {"dump", ECommand::None, "dump takes one argument"},
        {"dump a b", ECommand::None, "dump takes one argument"},
        {"return 5", ECommand::None, "return takes no arguments"},
        {"on blank", ECommand::None, "unexpected argument 'blank'"},
        {"on --bad-cell 0x20000", ECommand::None, "--bad-cell"},
        {"on --protect 8", ECommand::None, "--protect"},
        {"on --stop-after", ECommand::None, "--stop-after needs a value"},
        {"on --baud 9600", ECommand::None, "--baud is set for the whole run"},
        {"on --link /tmp/l", ECommand::None, "--link is set for the whole run"},
        {"on -h", ECommand::None, "--help is set for the whole run"},
    };
    for (const SCase& item : cases)
    {
        CBoardCommand command;
        std::string error;
        const bool accepted = ParseBoardCommand(item.Line, command, error);
        EXPECT_EQ(accepted, item.Refusal.empty()) << "'" << item.Line << "': " << error;
        if (accepted)
        {
            EXPECT_EQ(command.Kind, item.Kind) << item.Line;
        }
        else
        {
            EXPECT_NE(error.find(item.Refusal), std::string::npos) << error;
        }
    }
}

TEST(BoardCommands, NewBoardHasTheOptionsGivenAndTheDefaultsOtherwise)
{
    CBoardCommand command;
    std::string error;
    ASSERT_TRUE(ParseBoardCommand("on --image img.bin --bad-cell 7 --surplus 2:1 --ack 0x55",
                                  command, error))
        << error;
    const CBoardOptions& board = command.NewBoard;
    EXPECT_EQ(board.ImagePath, "img.bin");
    EXPECT_EQ(board.BadCells, std::vector<uint32_t>{7});
    EXPECT_EQ(board.Surplus.size(), 1u);
    EXPECT_EQ(board.Ack, 0x55);
    EXPECT_EQ(board.EraseMilliseconds, 1500);
    EXPECT_FALSE(board.StopAfterGiven);
    EXPECT_EQ(board.ReturnAfterMilliseconds, -1);
    EXPECT_FALSE(ParseBoardCommand("dump /tmp/board 2.bin", command, error))
        << "no blanks in paths";
    ASSERT_TRUE(ParseBoardCommand("dump out.bin", command, error)) << error;
    EXPECT_EQ(command.Path, "out.bin");
}

TEST(BoardCommands, InputIsCutIntoLinesAndOverlongOnesAreDropped)
{
    CCommandLines lines;
    std::string line;
    bool overlong = false;
    lines.Add("of", 2);
    EXPECT_FALSE(lines.Next(line, overlong));
    lines.Add("f\non\n\nret", 10);
    const std::vector<std::string> expected{"off", "on", ""};
    for (const std::string& want : expected)
    {
        ASSERT_TRUE(lines.Next(line, overlong));
        EXPECT_FALSE(overlong);
        EXPECT_EQ(line, want);
    }
    EXPECT_FALSE(lines.Next(line, overlong));
    // The overlong line under way is dropped as it comes; the one after it is whole.
    const std::string filler(MaxCommandLine, 'x');
    lines.Add(filler.data(), filler.size());
    EXPECT_FALSE(lines.Next(line, overlong));
    lines.Add("urn\noff\n", 8);
    ASSERT_TRUE(lines.Next(line, overlong));
    EXPECT_TRUE(overlong);
    ASSERT_TRUE(lines.Next(line, overlong));
    EXPECT_FALSE(overlong);
    EXPECT_EQ(line, "off");
}
