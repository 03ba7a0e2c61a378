#include "board/FrameServer.h"

#include <gtest/gtest.h>

#include <vector>

class FrameServerTest : public ::testing::Test
{
  protected:
    CBoardOptions Options;
    CFlashChip Flash{[] { return int64_t{0}; }, 100};

    std::vector<uint8_t> Serve(const std::vector<std::vector<uint8_t>>& frames)
    {
        CFrameServer server(Flash, Options);
        std::vector<uint8_t> reply;
        for (const std::vector<uint8_t>& frame : frames)
        {
            for (uint8_t byte : frame)
            {
                server.Receive(byte, reply);
            }
        }
        return reply;
    }
    static std::vector<uint8_t> Frame(uint8_t command, uint32_t address, uint8_t data)
    {
        return {command, static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8),
                static_cast<uint8_t>(address >> 16), data};
    }
};

TEST_F(FrameServerTest, AddressIsLittleEndianAcrossThreeBytes)
{
    std::vector<uint8_t> image(FlashSize);
    for (size_t i = 0; i < image.size(); ++i)
    {
        image[i] = static_cast<uint8_t>(i * 7 + (i >> 8) * 13 + (i >> 16));
    }
    Flash.Load(image.data(), image.size());
    const std::vector<uint8_t> reply =
        Serve({Frame(0x00, 0x012345, 0), Frame(0x00, 0x01ABCD, 0x99), Frame(0x00, 0x000100, 0)});
    EXPECT_EQ(reply, (std::vector<uint8_t>{image[0x12345], image[0x1ABCD], image[0x100]}));
}

TEST_F(FrameServerTest, ReplyAppearsOnlyWithTheFifthByte)
{
    CFrameServer server(Flash, Options);
    std::vector<uint8_t> reply;
    const std::vector<uint8_t> frame = Frame(0x80, 0x555, 0xAA);
    for (size_t i = 0; i < 4; ++i)
    {
        server.Receive(frame[i], reply);
        EXPECT_TRUE(reply.empty());
    }
    server.Receive(frame[4], reply);
    EXPECT_EQ(reply, std::vector<uint8_t>{0x00});
    EXPECT_EQ(server.Frames(), 1u);
}

TEST_F(FrameServerTest, UnknownFramesCountForFaultNumbering)
{
    Options.Surplus[2] = 2;
    Options.VanishAfter = 3;
    CFrameServer server(Flash, Options);
    std::vector<uint8_t> reply;
    for (const std::vector<uint8_t>& frame :
         {Frame(0x00, 0, 0), Frame(0x41, 0, 0), Frame(0x00, 1, 0)})
    {
        EXPECT_FALSE(server.VanishDue());
        for (uint8_t byte : frame)
        {
            server.Receive(byte, reply);
        }
    }
    EXPECT_EQ(reply, (std::vector<uint8_t>{0xFF, 0xEE, 0xEE, 0xFF}));
    EXPECT_TRUE(server.VanishDue());
}

TEST_F(FrameServerTest, ShortProgramCountsOnlyProgramFrames)
{
    Options.ShortProgram = 2;
    const std::vector<uint8_t> reply =
        Serve({Frame(0xC0, 0, 0x11), Frame(0x80, 0, 0), Frame(0x00, 0, 0), Frame(0xC0, 1, 0x22),
               Frame(0xC0, 2, 0x33)});
    // Outside a program command the program frame's write cycle changes nothing.
    EXPECT_EQ(reply, (std::vector<uint8_t>{0x00, 0xFF, 0x00, 0xFF, 0x00, 0x00, 0xFF}));
}

TEST_F(FrameServerTest, StoppedBoardNeitherAnswersNorCarriesOutFrames)
{
    Options.StopAfterGiven = true;
    Options.StopAfter = 4;
    const std::vector<uint8_t> reply =
        Serve({Frame(0x80, 0x555, 0xAA), Frame(0x80, 0x2AA, 0x55), Frame(0x80, 0x555, 0xA0),
               Frame(0x00, 0x10, 0), Frame(0xC0, 0x10, 0x00), Frame(0x00, 0x10, 0)});
    EXPECT_EQ(reply, (std::vector<uint8_t>{0x00, 0x00, 0x00, 0xFF}));
    EXPECT_EQ(Flash.Read(0x10), 0xFF);
}
