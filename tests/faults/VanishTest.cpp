// A board unplugged in every stage of a download: the run must end at once with the stage's
// Error line, the time line and the NG banner, spending next to no CPU on the dead line.
#include "tests/faults/FaultSupport.h"

#include <gtest/gtest.h>

namespace
{

const int ImageLength = 256; // four blocks: 10 frames before programming, 2 per byte
const int ProgramStart = 11;
const int VerifyStart = ProgramStart + 2 * ImageLength + 2;

struct VanishCase
{
    const char* Name;
    std::vector<std::string> BoardOptions;
    std::vector<std::string> Arguments; // the image path is added
    std::string ExpectedBody;
    double MaxWallSeconds;
    bool Programmed = false; // the board starts with the image already in its flash
};

std::string Label(const std::string& text)
{
    return text + std::string(20 - text.size(), ' ');
}

// A function, not a constant: the parts are constants of another file.
std::string Failed()
{
    return ErrorMarker + "Time  <t>\n" + NgEnding;
}

std::vector<VanishCase> VanishCases()
{
    auto vanish = [](int frame, const char* eraseMs = "0")
    {
        return std::vector<std::string>{"--erase-ms", eraseMs, "--vanish-after",
                                        std::to_string(frame)};
    };
    const std::string program = EraseOkAtFirstPoll + StageLine("Program", ImageLength);
    return {
        {"EraseSequence", vanish(3), {"-v"}, Label("Erase") + Failed(), 3},
        // The chip is still erasing at the first poll; the second poll finds no board.
        {"ErasePoll", vanish(7, "60000"), {"-v"}, Label("Erase") + "++" + Failed(), 4},
        {"EnterBypass", vanish(8), {"-v"}, EraseOkAtFirstPoll + Label("Program") + Failed(), 3},
        {"Program",
         vanish(ProgramStart + 2 * 64 + 20),
         {"-v"},
         EraseOkAtFirstPoll + StageUpTo("Program", ImageLength, 1) + Failed(),
         3},
        {"LeaveBypass", vanish(VerifyStart - 2), {"-v"}, program + Failed(), 3},
        {"Verify",
         vanish(VerifyStart + 64 + 9),
         {"-v"},
         program + StageUpTo("Verify", ImageLength, 1) + Failed(),
         3},
        // Verify-only runs print no time line.
        {"VerifyOnly",
         vanish(64 + 9),
         {"-vo"},
         StageUpTo("Verify", ImageLength, 1) + ErrorMarker + NgEnding,
         3,
         true},
    };
}

void PrintTo(const VanishCase& vanishCase, std::ostream* out)
{
    *out << vanishCase.Name;
}

class VanishTest : public ::testing::TestWithParam<VanishCase>
{
};

TEST_P(VanishTest, EndsAtOnceWithTheErrorLine)
{
    const VanishCase& vanishCase = GetParam();
    CTempDirectory files;
    std::string image = files.File("image.img");
    std::vector<uint8_t> plain = PlainImage(ImageLength, 5);
    ASSERT_TRUE(WriteImageFile(image, plain));
    std::vector<std::string> boardOptions = vanishCase.BoardOptions;
    if (vanishCase.Programmed)
    {
        ASSERT_TRUE(WriteFileBytes(files.File("flash.bin"), FlashAfterDownload(plain)));
        boardOptions.insert(boardOptions.end(), {"--image", files.File("flash.bin")});
    }
    CBoardProcess board;
    ASSERT_TRUE(board.Start(boardOptions));

    std::vector<std::string> arguments = vanishCase.Arguments;
    arguments.insert(arguments.end(), {"-p", "7", image});
    CProcessResult result = RunDownloaderWith(arguments, board.Device(), EStdin::DevNull);

    EXPECT_TRUE(result.ExitedWith(1)) << result.Describe();
    int elapsed = -1;
    EXPECT_EQ(ConsoleBody(result.Out, &elapsed), vanishCase.ExpectedBody);
    EXPECT_LE(elapsed, 3);
    EXPECT_LT(result.WallSeconds, vanishCase.MaxWallSeconds);
    EXPECT_LT(result.CpuSeconds, 1.5);
    RecordProperty("cpu_ms", static_cast<int>(result.CpuSeconds * 1000));
    RecordProperty("wall_ms", static_cast<int>(result.WallSeconds * 1000));
    // The board left by itself, as the fault asks, not because the test stopped it.
    ASSERT_TRUE(board.WaitExit(10));
    EXPECT_EQ(board.ExitCode(), 0) << board.Stderr();
    EXPECT_NE(board.Stderr().find("device vanished"), std::string::npos) << board.Stderr();
}

INSTANTIATE_TEST_SUITE_P(Stages, VanishTest, ::testing::ValuesIn(VanishCases()),
                         [](const ::testing::TestParamInfo<VanishCase>& info)
                         { return std::string(info.param.Name); });

} // namespace
