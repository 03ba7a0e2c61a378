// Eight boards flashed at once by eight orbelt-dl processes.
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

} // namespace
