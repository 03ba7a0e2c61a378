#pragma once

// The fixture of the end-to-end download tests: the real orbelt-dl against a fresh orbelt-board
// on a pseudo-terminal, and the frames of a download written out from the protocol.
#include "tests/e2e/Console.h"
#include "tests/support/Board.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

inline const std::vector<std::string> FastErase = {"--erase-ms", "0"};

inline CBoardFrame Frame(uint8_t command, uint32_t address, uint8_t data)
{
    return {command, static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8),
            static_cast<uint8_t>(address >> 16), data};
}

inline CBoardFrame Cycle(uint32_t address, uint8_t value)
{
    return Frame(0x80, address, value);
}

inline const std::vector<CBoardFrame> EraseFrames = {
    Cycle(0x555, 0xAA), Cycle(0x2AA, 0x55), Cycle(0x555, 0x80),
    Cycle(0x555, 0xAA), Cycle(0x2AA, 0x55), Cycle(0x555, 0x10),
};
inline const std::vector<CBoardFrame> EnterBypassFrames = {Cycle(0x555, 0xAA), Cycle(0x2AA, 0x55),
                                                           Cycle(0x555, 0x20)};
inline const std::vector<CBoardFrame> LeaveBypassFrames = {Cycle(0x333, 0x90), Cycle(0x333, 0xF0)};

inline void Append(std::vector<CBoardFrame>& frames, const std::vector<CBoardFrame>& more)
{
    frames.insert(frames.end(), more.begin(), more.end());
}

// Every frame of a download whose chip reads erased at the first poll.
inline std::vector<CBoardFrame> DownloadFrames(const std::vector<uint8_t>& flash,
                                               size_t imageLength, bool verify)
{
    size_t end = (imageLength + 63) / 64 * 64;
    std::vector<CBoardFrame> frames = EraseFrames;
    frames.push_back(Frame(0x00, 0, 0));
    Append(frames, EnterBypassFrames);
    for (size_t address = 0; address < end; ++address)
    {
        frames.push_back(Cycle(0x333, 0xA0));
        frames.push_back(Frame(0xC0, static_cast<uint32_t>(address), flash[address]));
    }
    Append(frames, LeaveBypassFrames);
    for (size_t address = 0; verify && address < end; ++address)
    {
        frames.push_back(Frame(0x00, static_cast<uint32_t>(address), 0));
    }
    return frames;
}

class DownloadTest : public ::testing::Test
{
  protected:
    std::string Image(const std::vector<uint8_t>& plain)
    {
        std::string path = Files.File("image.img");
        EXPECT_TRUE(WriteImageFile(path, plain));
        return path;
    }

    // Runs orbelt-dl against a fresh board and stops the board so that dump and trace exist.
    CProcessResult Run(const std::vector<std::string>& boardOptions,
                       const std::vector<std::string>& arguments, double timeoutSeconds = 60,
                       int exitCode = 1)
    {
        EXPECT_TRUE(Board.Start(boardOptions));
        CProcessResult result = RunDownloader(arguments, Board.Device(), 7, timeoutSeconds);
        EXPECT_TRUE(Board.Stop()) << Board.Stderr();
        EXPECT_TRUE(result.ExitedWith(exitCode)) << result.Describe();
        return result;
    }

    // A board whose flash holds what a download of plain leaves.
    std::vector<std::string> Programmed(const std::vector<uint8_t>& plain)
    {
        EXPECT_TRUE(WriteFileBytes(Files.File("flash.bin"), FlashAfterDownload(plain)));
        return {"--erase-ms", "0", "--image", Files.File("flash.bin")};
    }

    CTempDirectory Files;
    CBoardProcess Board;
};

inline std::string OkEndingWith(const std::string& verdict)
{
    return OkEnding.substr(0, OkEnding.rfind('\n') + 1) + verdict;
}
