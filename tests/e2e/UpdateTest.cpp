// --update end to end: a changed image through orbelt-board, whose trace shows, besides reads,
// only the board's recovery, the autoselect and the erase and programming of the one sector
// that changed.
#include "tests/e2e/DownloadFixture.h"

#include <algorithm>

TEST_F(DownloadTest, UpdateErasesAndProgramsOnlyTheChangedSector)
{
    // 32 KiB on the board; a 20 KiB image sets a bit in sector 1 (0x4000 to 0x7FFF), whose
    // bytes past the image must stay.
    std::vector<uint8_t> flash = PlainImage(0x8000, 2);
    flash[0x4321] = 0x00;
    std::vector<uint8_t> plain(flash.begin(), flash.begin() + 0x5000);
    plain[0x4321] = 0x01;
    ASSERT_TRUE(WriteFileBytes(Files.File("flash.bin"), flash));
    const CProcessResult result = Run({"--erase-ms", "0", "--image", Files.File("flash.bin")},
                                      {"--update", "--no-wait", "-p", "7", Image(plain)}, 60, 0);
    EXPECT_NE(result.Out.find("Erase 1 of 8"), std::string::npos) << result.Out;

    // The board brought to a known state (the realignment's filler, the return to reading the
    // array), autoselect and its reset, then the one sector.
    std::vector<CBoardFrame> expected = {
        RealignFiller,      Cycle(0x333, 0xFF), Cycle(0x333, 0x90),
        Cycle(0x333, 0xF0), Cycle(0x555, 0xF0), Cycle(0x555, 0xAA),
        Cycle(0x2AA, 0x55), Cycle(0x555, 0x90), Cycle(0x555, 0xF0)};
    Append(expected, {Cycle(0x555, 0xAA), Cycle(0x2AA, 0x55), Cycle(0x555, 0x80),
                      Cycle(0x555, 0xAA), Cycle(0x2AA, 0x55), Cycle(0x4000, 0x30)});
    Append(expected, EnterBypassFrames);
    std::vector<uint8_t> after = flash;
    std::copy(plain.begin(), plain.end(), after.begin());
    for (uint32_t address = 0x4000; address < 0x8000; ++address)
    {
        if (after[address] != 0xFF)
        {
            Append(expected, {Cycle(0x333, 0xA0), Frame(0xC0, address, after[address])});
        }
    }
    Append(expected, LeaveBypassFrames);
    std::vector<CBoardFrame> written;
    for (const CBoardFrame& frame : Board.TraceFrames())
    {
        if (frame[0] != 0x00)
        {
            written.push_back(frame);
        }
    }
    EXPECT_TRUE(written == expected)
        << written.size() << " frames, " << expected.size() << " expected";
    after.resize(BoardFlashSize, 0xFF);
    EXPECT_TRUE(Board.Dump() == after);
}

// An image larger than the chip is refused before anything is erased: a download cuts it, an
// update must not, since it keeps what lies past the image.
TEST_F(DownloadTest, UpdateRefusesAnImageLargerThanTheChip)
{
    const CProcessResult result =
        Run(FastErase, {"--update", "--no-wait", "-p", "7", Image(PlainImage(0x20001))}, 60, 1);
    EXPECT_NE(result.Err.find("orbelt-dl: the image is larger than the Am29F010B's 128 KiB\n"),
              std::string::npos)
        << result.Err;
    for (const CBoardFrame& frame : Board.TraceFrames())
    {
        EXPECT_NE(frame[0], 0xC0) << "a program frame";
        EXPECT_FALSE(frame[0] == 0x80 && (frame[4] == 0x10 || frame[4] == 0x30)) << "an erase";
    }
}
