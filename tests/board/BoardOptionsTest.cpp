#include "board/BoardOptions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

static bool Parse(const std::vector<std::string>& arguments, CBoardOptions& options,
                  std::string& error)
{
    std::vector<const char*> argv{"orbelt-board"};
    std::transform(arguments.begin(), arguments.end(), std::back_inserter(argv),
                   [](const std::string& argument) { return argument.c_str(); });
    return ParseBoardOptions(static_cast<int>(argv.size()), argv.data(), options, error);
}

static std::string ParseError(const std::vector<std::string>& arguments)
{
    CBoardOptions options;
    std::string error;
    if (Parse(arguments, options, error))
    {
        return "accepted";
    }
    return error;
}

TEST(BoardOptions, DefaultsAnswerPlainlyAndInjectNoFault)
{
    CBoardOptions options;
    std::string error;
    ASSERT_TRUE(Parse({}, options, error)) << error;
    EXPECT_EQ(options.Baud, 0u);
    EXPECT_EQ(options.EraseMilliseconds, 1500);
    EXPECT_EQ(options.Ack, 0x00);
    EXPECT_FALSE(options.StopAfterGiven);
    EXPECT_EQ(options.VanishAfter, 0u);
    EXPECT_EQ(options.ShortProgram, 0u);
    EXPECT_TRUE(options.Surplus.empty());
    EXPECT_FALSE(options.ExitOnClose);
    EXPECT_FALSE(options.EraseNever);
}

TEST(BoardOptions, EveryOptionIsRead)
{
    CBoardOptions options;
    std::string error;
    ASSERT_TRUE(Parse({"--image",
                       "in.bin",
                       "--dump=out.bin",
                       "--trace",
                       "t.bin",
                       "--link",
                       "/tmp/l",
                       "--exit-on-close",
                       "--baud",
                       "115200",
                       "--latency-ms",
                       "16",
                       "--erase-ms",
                       "0x10",
                       "--ack",
                       "0xA5",
                       "--stop-after",
                       "0",
                       "--vanish-after",
                       "7",
                       "--erase-never",
                       "--bad-cell",
                       "0x1FFFF",
                       "--bad-cell=3",
                       "--bad-read",
                       "0x40",
                       "--short-program",
                       "2",
                       "--surplus",
                       "4:3",
                       "--surplus=0x10:0x2",
                       "--surplus",
                       "4:1"},
                      options, error))
        << error;
    EXPECT_EQ(options.ImagePath, "in.bin");
    EXPECT_EQ(options.DumpPath, "out.bin");
    EXPECT_EQ(options.TracePath, "t.bin");
    EXPECT_EQ(options.LinkPath, "/tmp/l");
    EXPECT_TRUE(options.ExitOnClose);
    EXPECT_EQ(options.Baud, 115200u);
    EXPECT_EQ(options.LatencyMilliseconds, 16);
    EXPECT_EQ(options.EraseMilliseconds, 16);
    EXPECT_EQ(options.Ack, 0xA5);
    EXPECT_TRUE(options.StopAfterGiven);
    EXPECT_EQ(options.StopAfter, 0u);
    EXPECT_EQ(options.VanishAfter, 7u);
    EXPECT_TRUE(options.EraseNever);
    EXPECT_EQ(options.BadCells, (std::vector<uint32_t>{0x1FFFF, 3}));
    EXPECT_EQ(options.BadReads, (std::vector<uint32_t>{0x40}));
    EXPECT_EQ(options.ShortProgram, 2u);
    EXPECT_EQ(options.Surplus, (std::map<uint64_t, uint64_t>{{4, 4}, {16, 2}}));
}

TEST(BoardOptions, HelpIsRecognisedInBothSpellings)
{
    for (const char* spelling : {"-h", "--help"})
    {
        CBoardOptions options;
        std::string error;
        ASSERT_TRUE(Parse({spelling}, options, error)) << error;
        EXPECT_TRUE(options.Help) << spelling;
    }
}

TEST(BoardOptions, BadCommandLinesAreRefusedNamingTheCulprit)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"--bogus"}, "--bogus"},
        {{"--bogus=1"}, "--bogus"},
        {{"-x"}, "-x"},
        {{"stray"}, "stray"},
        {{"--baud"}, "--baud"},
        {{"--baud", "0"}, "--baud"},
        {{"--baud", "fast"}, "--baud"},
        {{"--latency-ms", "1001"}, "--latency-ms"},
        {{"--ack", "256"}, "--ack"},
        {{"--ack", "-1"}, "--ack"},
        {{"--ack", "0x"}, "--ack"},
        {{"--ack", "12x"}, "--ack"},
        {{"--erase-ms", ""}, "--erase-ms"},
        {{"--bad-cell", "0x20000"}, "--bad-cell"},
        {{"--bad-read", "131072"}, "--bad-read"},
        {{"--vanish-after", "0"}, "--vanish-after"},
        {{"--short-program", "0"}, "--short-program"},
        {{"--surplus", "3"}, "--surplus"},
        {{"--surplus", "0:3"}, "--surplus"},
        {{"--surplus", "3:0"}, "--surplus"},
        {{"--surplus", "3:x"}, "--surplus"},
        {{"--exit-on-close=1"}, "--exit-on-close"},
        {{"--image", ""}, "--image"},
        {{"--stop-after", "99999999999999999999999"}, "--stop-after"},
    };
    for (const auto& [arguments, culprit] : cases)
    {
        const std::string error = ParseError(arguments);
        EXPECT_NE(error, "accepted") << arguments[0];
        EXPECT_NE(error.find(culprit), std::string::npos) << error;
    }
}

TEST(BoardOptions, NumbersAreDecimalOrHex)
{
    uint64_t value = 0;
    EXPECT_TRUE(ParseBoardNumber("010", 255, value));
    EXPECT_EQ(value, 10u) << "a leading zero is not octal";
    EXPECT_TRUE(ParseBoardNumber("0XfF", 255, value));
    EXPECT_EQ(value, 255u);
    EXPECT_FALSE(ParseBoardNumber("0x100", 255, value));
    EXPECT_FALSE(ParseBoardNumber(" 1", 255, value));
    EXPECT_FALSE(ParseBoardNumber("1 ", 255, value));
    EXPECT_FALSE(ParseBoardNumber("0x-1", 255, value));
}
