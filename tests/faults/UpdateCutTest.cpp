// An update cut short by kill -9, Ctrl-C or an adapter pulled while it programs the sector whose
// bytes past the image it erased: the board loses none of them, put back at the stop or by the
// next update of the board.
#include "tests/faults/FaultSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

namespace
{

// Am29LV001BB: sector 1 runs from 0x2000 to 0x2FFF; the image ends inside it, and the board keeps
// its calibration from there to the sector's end.
const size_t ImageEnd = 0x2800;
const size_t SectorEnd = 0x3000;

struct CCut
{
    const char* Name;
    int Signal;         // sent once the program stage has begun; 0: the adapter is pulled
    bool PutBackAtOnce; // the run itself puts the bytes back
};

void PrintTo(const CCut& cut, std::ostream* out)
{
    *out << cut.Name;
}

class UpdateCutTest : public ::testing::TestWithParam<CCut>
{
};

TEST_P(UpdateCutTest, LosesNoByteOutsideTheImage)
{
    const CCut& cut = GetParam();
    CTempDirectory files;
    std::vector<uint8_t> flash = PlainImage(SectorEnd, 4);
    std::vector<uint8_t> plain(flash.begin(), flash.begin() + ImageEnd);
    flash[0x2100] = 0x00;
    plain[0x2100] = 0x01;
    const std::string image = files.File("image.img");
    const std::string link = files.File("tty");
    const std::string journals = files.File("journals");
    ASSERT_TRUE(WriteImageFile(image, plain) && WriteFileBytes(files.File("flash.bin"), flash));
    // Paced, so that the stop comes in the middle of programming: some 17000 frames in.
    std::vector<std::string> options = {
        "--chip",  "Am29LV001BB",           "--erase-ms", "300", "--baud", "460800",
        "--image", files.File("flash.bin"), "--link",     link};
    if (cut.Signal == 0)
    {
        options.insert(options.end(), {"--vanish-after", "17000", "--return-after-ms", "300"});
    }
    CBoardProcess board;
    ASSERT_TRUE(board.Start(options));
    const std::vector<std::string> update = {"--update",      "--no-wait", "-p", "7",
                                             "--journal-dir", journals,    image};
    std::vector<std::string> argv{ORBELT_DL_PATH};
    argv.insert(argv.end(), update.begin(), update.end());
    CBackgroundProcess first;
    ASSERT_TRUE(first.Start(argv, DownloaderOptions(link)));
    if (cut.Signal != 0)
    {
        ASSERT_TRUE(
            WaitUntil([&] { return first.Stdout().find("Program") != std::string::npos; }, 30));
        SleepFor(0.2);
        ASSERT_TRUE(first.SendSignal(cut.Signal));
    }
    ASSERT_TRUE(first.Wait(30));
    const CProcessResult& cutRun = first.Result();
    EXPECT_NE(cutRun.Out.find("Program"), std::string::npos) << cutRun.Describe();
    EXPECT_EQ(cutRun.Out.find("Restore") != std::string::npos, cut.PutBackAtOnce) << cutRun.Out;
    SleepFor(0.5); // the frames still on the paced line reach the board; the adapter returns
    const auto left = std::distance(std::filesystem::directory_iterator(journals),
                                    std::filesystem::directory_iterator());
    EXPECT_EQ(left, cut.PutBackAtOnce ? 0 : 2) << "a journal and its lock";
    if (!cut.PutBackAtOnce)
    {
        const std::string record = files.File("runs.jsonl");
        std::vector<std::string> again = update;
        again.insert(again.end(), {"--result", record});
        CProcessResult next = RunDownloaderWith(again, link, EStdin::DevNull, 60);
        EXPECT_TRUE(next.ExitedWith(0)) << next.Describe();
        EXPECT_NE(next.Err.find("that an update cut short had erased"), std::string::npos)
            << next.Err;
        EXPECT_NE(ReadFileText(record).find("\"restored_bytes\":"), std::string::npos)
            << ReadFileText(record);
    }
    ASSERT_TRUE(board.Stop()) << board.Stderr();
    const std::vector<uint8_t> dump = board.Dump();
    ASSERT_EQ(dump.size(), BoardFlashSize);
    EXPECT_TRUE(std::equal(flash.begin() + ImageEnd, flash.end(), dump.begin() + ImageEnd))
        << "bytes past the image lost";
    EXPECT_TRUE(std::filesystem::is_empty(journals));
}

const CCut Cuts[] = {
    {"KillNine", SIGKILL, false},
    {"CtrlC", SIGINT, true},
    {"AdapterPulled", 0, false},
};

INSTANTIATE_TEST_SUITE_P(Accidents, UpdateCutTest, ::testing::ValuesIn(Cuts),
                         [](const ::testing::TestParamInfo<CCut>& info)
                         { return std::string(info.param.Name); });

} // namespace
