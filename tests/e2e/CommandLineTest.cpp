// The argument walk, image loading and the run outcome, through the real orbelt-dl binary:
// exact console bytes and exit status.
#include "tests/e2e/Console.h"
#include "tests/support/Board.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <sys/stat.h>

namespace
{

class CommandLineTest : public ::testing::Test
{
  protected:
    // Runs orbelt-dl in the test's folder, with COM1..COM250 left unmapped except where asked.
    CProcessResult Run(const std::vector<std::string>& arguments,
                       std::vector<std::string> environment = {}, EStdin input = EStdin::DevNull,
                       const std::string& typed = "")
    {
        std::vector<std::string> argv{ORBELT_DL_PATH};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        CProcessOptions options;
        options.Environment = std::move(environment);
        options.WorkingDirectory = Files.Path();
        options.Stdin = input;
        options.StdinText = typed;
        options.TimeoutSeconds = 20;
        CProcessResult result = RunProcess(argv, options);
        EXPECT_TRUE(result.ExitedWith(1)) << result.Describe();
        return result;
    }

    // Ports that map to nothing: reaching "Can't open" proves the file loaded and which port
    // was chosen, without any board.
    static std::vector<std::string> Unmapped(std::initializer_list<int> ports)
    {
        std::vector<std::string> environment;
        for (int port : ports)
        {
            environment.push_back("ORBELT_COM" + std::to_string(port) + "=/nonexistent/tty");
        }
        return environment;
    }

    std::string MakeImage(const std::string& name, size_t length = 100)
    {
        EXPECT_TRUE(WriteImageFile(Files.File(name), PlainImage(length)));
        return name;
    }

    CTempDirectory Files;
};

std::string InvalidPort()
{
    return "invalid port number\n" + NgEnding;
}

} // namespace

TEST_F(CommandLineTest, NoArgumentsIsAMissingFileName)
{
    CProcessResult result = Run({});
    EXPECT_EQ(ConsoleBody(result.Out), "missing file name\n" + NgEnding);
    EXPECT_EQ(result.Err, "");
}

TEST_F(CommandLineTest, OptionsAloneAreAMissingFileName)
{
    EXPECT_EQ(ConsoleBody(Run({"-v", "-p", "3", ""}).Out), "missing file name\n" + NgEnding);
}

// A refused value (port 0) stops the walk before any port is opened; a taken one reaches
// "Can't open" on its port.
TEST_F(CommandLineTest, PortNumbersAreWholeNumbersInRange)
{
    std::string image = MakeImage("a.bin");
    const std::pair<const char*, int> cases[] = {
        {"0", 0},           {"251", 0},        {"-5", 0},  {"abc", 0},  {"", 0},
        {"6x", 0},          {"1O", 0},         {"3.5", 0}, {"6e2", 0},  {"-0x9", 0},
        {"99999999999", 0}, {"4294967297", 0}, {"6", 6},   {" 6", 6},   {"12 ", 12},
        {"+7", 7},          {"007", 7},        {"1", 1},   {"250", 250}};
    for (const auto& [value, port] : cases)
    {
        CProcessResult result = Run({"-p", value, image}, Unmapped({port}));
        EXPECT_EQ(ConsoleBody(result.Out),
                  port == 0 ? InvalidPort()
                            : "Can't open COM" + std::to_string(port) + "\n" + NgEnding)
            << "-p '" << value << "'";
    }
}

TEST_F(CommandLineTest, TrailingPortOptionIsAnInvalidPortNumber)
{
    EXPECT_EQ(ConsoleBody(Run({MakeImage("a.bin"), "-p"}).Out), InvalidPort());
}

TEST_F(CommandLineTest, LaterPortOptionOverridesAnEarlierOne)
{
    CProcessResult result = Run({"-p", "3", MakeImage("a.bin"), "-p", "4"}, Unmapped({3, 4}));
    EXPECT_EQ(ConsoleBody(result.Out), "Can't open COM4\n" + NgEnding);
}

TEST_F(CommandLineTest, DefaultPortIsCom1)
{
    CProcessResult result = Run({MakeImage("a.bin")}, Unmapped({1}));
    EXPECT_EQ(ConsoleBody(result.Out), "Can't open COM1\n" + NgEnding);
}

TEST_F(CommandLineTest, FirstFileNameWins)
{
    MakeImage("b.bin");
    EXPECT_EQ(ConsoleBody(Run({"a.bin", "b.bin"}, Unmapped({1})).Out),
              "File not found\n" + NgEnding);
    MakeImage("a.bin");
    EXPECT_EQ(ConsoleBody(Run({"a.bin", "missing.bin"}, Unmapped({1})).Out),
              "Can't open COM1\n" + NgEnding);
}

// "--" ends the options: an image may be named like one. The tags of --record-tag end every
// record, a run that fails on its image too.
TEST_F(CommandLineTest, DoubleDashEndsTheOptionsAndTagsEndTheRecord)
{
    MakeImage("-v");
    EXPECT_EQ(ConsoleBody(Run({"--", "-v"}, Unmapped({1})).Out), "Can't open COM1\n" + NgEnding);
    const std::string record = Files.File("runs.jsonl");
    CProcessResult result = Run({"--result", record, "--record-tag", "operator=Ann \"B\"",
                                 "--record-tag", "order=WO-7", "--", "--missing"});
    EXPECT_EQ(ConsoleBody(result.Out), "File not found\n" + NgEnding);
    EXPECT_NE(ReadFileText(record).find("\"image\":\"--missing\""), std::string::npos);
    EXPECT_NE(ReadFileText(record).find(",\"operator\":\"Ann \\\"B\\\"\",\"order\":\"WO-7\"}\n"),
              std::string::npos)
        << ReadFileText(record);
}

TEST_F(CommandLineTest, EmptyArgumentDoesNotTakeTheFileNamesPlace)
{
    EXPECT_EQ(ConsoleBody(Run({"", MakeImage("a.bin")}, Unmapped({1})).Out),
              "Can't open COM1\n" + NgEnding);
}

TEST_F(CommandLineTest, OptionsAreCaseSensitive)
{
    EXPECT_EQ(ConsoleBody(Run({"-V"}).Out), "File not found\n" + NgEnding);
    MakeImage("-V");
    EXPECT_EQ(ConsoleBody(Run({"-V", "-P", "x"}, Unmapped({1})).Out),
              "Can't open COM1\n" + NgEnding);
}

TEST_F(CommandLineTest, LongFileNamesAreUsedWhole)
{
    // A name that shares its first 79 characters with another file must not open that one.
    std::string stem(79, 'n');
    MakeImage(stem);
    std::string longName = stem + std::string(150, 'x') + ".img";
    EXPECT_EQ(ConsoleBody(Run({longName}, Unmapped({1})).Out), "File not found\n" + NgEnding);
    MakeImage(longName);
    EXPECT_EQ(ConsoleBody(Run({longName}, Unmapped({1})).Out), "Can't open COM1\n" + NgEnding);
}

TEST_F(CommandLineTest, UnopenableFilesAreNotFound)
{
    ASSERT_EQ(mkdir(Files.File("folder").c_str(), 0755), 0);
    for (const char* name : {"missing.bin", "folder"})
    {
        CProcessResult result = Run({name}, Unmapped({1}));
        EXPECT_EQ(ConsoleBody(result.Out), "File not found\n" + NgEnding) << name;
        EXPECT_LT(result.WallSeconds, 5) << name;
    }
}

TEST_F(CommandLineTest, EmptyFilesAreRefusedAndOversizeFilesLoad)
{
    for (const std::string& name : {MakeImage("empty.bin", 0), std::string("/dev/null")})
    {
        EXPECT_EQ(ConsoleBody(Run({name}, Unmapped({1})).Out), "Empty image file\n" + NgEnding)
            << name;
    }
    EXPECT_EQ(ConsoleBody(Run({MakeImage("big.bin", 300000)}, Unmapped({1})).Out),
              "Can't open COM1\n" + NgEnding)
        << "cut silently";
}

TEST_F(CommandLineTest, KeyWaitEndsWithoutInput)
{
    // A production script may run the tool with stdin closed, at end of file, or fed a key.
    std::string image = MakeImage("a.bin");
    Run({image}, Unmapped({1}), EStdin::Closed);
    Run({image}, Unmapped({1}), EStdin::DevNull);
    CProcessResult fed = Run({"-p", "0"}, {}, EStdin::Text, "y");
    EXPECT_EQ(ConsoleBody(fed.Out), InvalidPort());
}

// --version and --list-ports answer alone: no start-up line, no banner, status 0.
CProcessResult Ask(const std::vector<std::string>& arguments, std::vector<std::string> environment)
{
    std::vector<std::string> argv{ORBELT_DL_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    CProcessOptions options;
    options.Environment = std::move(environment);
    options.TimeoutSeconds = 20;
    CProcessResult result = RunProcess(argv, options);
    EXPECT_TRUE(result.ExitedWith(0)) << result.Describe();
    EXPECT_EQ(result.Err, "");
    return result;
}

TEST_F(CommandLineTest, VersionIsTheOnlyLine)
{
    EXPECT_EQ(Ask({"-v", "--version", "a.bin"}, {}).Out, "orbelt-dl " ORBELT_VERSION "\n");
    // As the value of -p it is no question but a bad port number.
    EXPECT_EQ(ConsoleBody(Run({"-p", "--version", "a.bin"}).Out), InvalidPort());
}

TEST_F(CommandLineTest, ListPortsShowsTheMappings)
{
    ASSERT_TRUE(WriteFileText(Files.File("adapter"), ""));
    std::string out = Ask({"--list-ports"}, {"ORBELT_COM12=" + Files.File("adapter"),
                                             "ORBELT_COM3=" + Files.File("gone"),
                                             "ORBELT_COM300=" + Files.File("adapter")})
                          .Out;
    std::string mine;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
    {
        // The machine's own ports vary; each line still has the three fields.
        EXPECT_TRUE(
            std::regex_match(line, std::regex("([0-9]+|-|ORBELT_COMn=[^\t]+)\t/[^\t]+\t.*")))
            << line;
        mine += line.find(Files.Path()) != std::string::npos ? line + "\n" : "";
    }
    EXPECT_EQ(mine, "3\t" + Files.File("gone") + "\tORBELT_COM3, no such device\n" + "12\t" +
                        Files.File("adapter") + "\tORBELT_COM12\n" + "-\t" + Files.File("adapter") +
                        "\tORBELT_COM300\n");
}

// The verify options against a real board: which frames go out tells the mode apart.
class VerifyModeTest : public CommandLineTest
{
  protected:
    std::vector<CBoardFrame> FramesOf(const std::vector<std::string>& arguments)
    {
        std::vector<uint8_t> plain = PlainImage(64);
        std::vector<uint8_t> flash = FlashAfterDownload(plain);
        EXPECT_TRUE(WriteFileBytes(Files.File("flash.bin"), flash));
        EXPECT_TRUE(WriteImageFile(Files.File("image.bin"), plain));
        CBoardProcess board;
        EXPECT_TRUE(board.Start({"--erase-ms", "0", "--image", Files.File("flash.bin")}));
        CProcessResult result = Run(arguments, {"ORBELT_COM3=" + board.Device()});
        EXPECT_TRUE(board.Stop());
        EXPECT_EQ(ConsoleBody(result.Out).substr(ConsoleBody(result.Out).size() - OkEnding.size()),
                  OkEnding);
        return board.TraceFrames();
    }

    static size_t Count(const std::vector<CBoardFrame>& frames, uint8_t command)
    {
        size_t count = 0;
        for (const CBoardFrame& frame : frames)
        {
            count += frame[0] == command ? 1 : 0;
        }
        return count;
    }
};

TEST_F(VerifyModeTest, OptionOrderDoesNotMatter)
{
    std::vector<CBoardFrame> frames = FramesOf({"-p", "3", "image.bin", "-v"});
    EXPECT_EQ(Count(frames, 0xC0), 64u);
    EXPECT_EQ(Count(frames, 0x00), 1u + 64) << "one erase poll, then the verify reads";
}

TEST_F(VerifyModeTest, LaterVerifyOptionWins)
{
    std::vector<CBoardFrame> verifyOnly = FramesOf({"-v", "-vo", "-p", "3", "image.bin"});
    EXPECT_EQ(Count(verifyOnly, 0x00), 64u);
    EXPECT_EQ(verifyOnly.size(), 64u) << "no erase, no programming";

    std::vector<CBoardFrame> programAndVerify = FramesOf({"-vo", "-v", "-p", "3", "image.bin"});
    EXPECT_EQ(Count(programAndVerify, 0xC0), 64u);
    EXPECT_EQ(Count(programAndVerify, 0x00), 1u + 64);
}

TEST_F(CommandLineTest, HelpAnswersAtOnce)
{
    CProcessResult help = RunProcess({ORBELT_DL_PATH, "-v", "image.bin", "--help"});
    EXPECT_TRUE(help.ExitedWith(0)) << help.Describe();
    EXPECT_EQ(help.Out.rfind("Usage: orbelt-dl ", 0), 0u) << help.Out;
    for (const char* option : {"-v ", "-vo ", "-p N ", "--stream ", "--skip-blank ", "--read FILE ",
                               "--size N ", "--erase ", "--no-wait ", "--result FILE ",
                               "--station ", "--list-ports ", "--help ", "--version "})
    {
        EXPECT_NE(help.Out.find(std::string("\n  ") + option), std::string::npos) << option;
    }
    EXPECT_EQ(help.Err, "");
    // As the value of an option it is that value.
    EXPECT_EQ(ConsoleBody(Run({"--read", "--help", "x.bin"}, Unmapped({1})).Out), NgEnding);
    EXPECT_FALSE(FileExists(Files.File("--help")));
}

// Each mistake is one diagnostic line and the NG banner; no file is written, no port opened.
TEST_F(CommandLineTest, BadReadAndEraseOptionsAreOneMessage)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--read", "f", "--size", "0"}, "invalid read size '0': give"},
        {{"--read", "f", "--size", "131073"}, "invalid read size '131073': give"},
        {{"--read", "f", "--size", "1k"}, "invalid read size '1k': give"},
        {{"--read", "f", "--size"}, "invalid read size '': give"},
        {{"--read"}, "--read needs a file name\n"},
        {{"--result"}, "--result needs a file name\n"},
        {{"--read", "f", "image.bin"}, "--read takes no image file, but 'image.bin' was given\n"},
        {{"--erase", "-vo"}, "--erase cannot be combined with -v or -vo\n"},
        {{"--size", "100", "image.bin"}, "--size needs --read\n"},
        {{"--erase", "--read", "f"}, "--read and --erase cannot be combined\n"},
        {{"--station", "-v"}, "--station needs an image file\n"},
        {{"--read", "f", "--station", "image.bin"}, "--station cannot be combined with --read\n"},
        {{"--station", "--erase", "image.bin"}, "--station cannot be combined with --erase\n"},
        {{"--help", "--station", "image.bin"}, "--station cannot be combined with --help\n"},
        {{"--journal-dir", "j", "image.bin"}, "--journal-dir needs --update\n"},
        {{"--record-tag", "port=3", "image.bin"},
         "--record-tag port=3: every record has the key port already\n"},
        {{"--record-tag", "a=1", "--record-tag", "a=2", "image.bin"},
         "--record-tag a=2: every record has the key a already\n"},
        {{"--record-tag", "line 3=x", "image.bin"},
         "invalid --record-tag 'line 3=x': give KEY=VALUE, KEY of letters, digits and _\n"},
        {{"--ports", "1-3", "-p", "2", "image.bin"}, "--ports cannot be combined with -p\n"},
        {{"--ports", "1,2", "--read", "f"}, "--ports cannot be combined with --read\n"},
        {{"--ports", "3-1", "image.bin"},
         "invalid port list '3-1': the range 3-1 runs backwards\n"},
        {{"--log-dir", "l", "image.bin"}, "--log-dir needs --ports\n"},
    };
    for (const auto& [arguments, message] : cases)
    {
        CProcessResult result = Run(arguments, Unmapped({1}));
        // A station waits for no key, and asks for none.
        const bool station =
            std::find(arguments.begin(), arguments.end(), "--station") != arguments.end();
        EXPECT_EQ(ConsoleBody(result.Out),
                  station ? NgEnding.substr(0, NgEnding.find(", press")) : NgEnding);
        std::string expected = "orbelt-dl: " + message;
        if (message.back() != '\n')
        {
            expected += " a number of bytes from 1 to 131072\n";
        }
        EXPECT_EQ(result.Err, expected);
        EXPECT_FALSE(FileExists(Files.File("f")));
    }
    EXPECT_EQ(ConsoleBody(Run({"--read", "f", "--size", "131072"}, Unmapped({1})).Out),
              "Can't open COM1\n" + NgEnding);
    // A station whose port will not open does not start.
    EXPECT_EQ(ConsoleBody(Run({"--station", MakeImage("image.bin")}, Unmapped({1})).Out),
              "Can't open COM1\n" + NgEnding.substr(0, NgEnding.find(", press")));
}

// Diagnostics about long paths keep their reason, on standard error and in the record.
TEST_F(CommandLineTest, LongPathsKeepTheirReason)
{
    const std::string missing = Files.File(std::string(200, 'a') + "/" + std::string(200, 'b'));
    CProcessResult result = Run({missing, "--result", "runs.jsonl"});
    const std::string reason = "cannot open image " + missing + ": No such file or directory";
    EXPECT_EQ(result.Err, "orbelt-dl: " + reason + "\n");
    EXPECT_NE(ReadFileText(Files.File("runs.jsonl")).find("\"reason\":\"" + reason + "\""),
              std::string::npos);
}

// Arguments after the image name that look like options are ignored, as always, but said.
TEST_F(CommandLineTest, OptionLikeArgumentsAfterTheImageAreSaid)
{
    CProcessResult result = Run({MakeImage("a.bin"), "--verify", "-V", "b.bin"}, Unmapped({1}));
    EXPECT_EQ(ConsoleBody(result.Out), "Can't open COM1\n" + NgEnding);
    EXPECT_EQ(result.Err, "orbelt-dl: '--verify' after the image name is no option and is ignored\n"
                          "orbelt-dl: '-V' after the image name is no option and is ignored\n"
                          "orbelt-dl: cannot open /nonexistent/tty: No such file or directory\n");
}
