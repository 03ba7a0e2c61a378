#include "board/FlashChip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

class FlashChipTest : public ::testing::Test
{
  protected:
    int64_t Now = 0;
    CFlashChip Flash{[this] { return Now; }, 1500};

    void Unlock()
    {
        Flash.Write(0x555, 0xAA);
        Flash.Write(0x2AA, 0x55);
    }
    void PlainProgram(uint32_t address, uint8_t data)
    {
        Unlock();
        Flash.Write(0x555, 0xA0);
        Flash.Write(address, data);
    }
    void StartChipErase()
    {
        Unlock();
        Flash.Write(0x555, 0x80);
        Unlock();
        Flash.Write(0x555, 0x10);
    }
    void EnterBypass()
    {
        Unlock();
        Flash.Write(0x555, 0x20);
    }
    void BypassProgram(uint32_t address, uint8_t data)
    {
        Flash.Write(0x333, 0xA0);
        Flash.Write(address, data);
    }
    size_t CountNotErased() const
    {
        const std::vector<uint8_t>& contents = Flash.Contents();
        return static_cast<size_t>(std::count_if(contents.begin(), contents.end(),
                                                 [](uint8_t value) { return value != 0xFF; }));
    }
};

TEST_F(FlashChipTest, NewChipReadsErasedEverywhere)
{
    ASSERT_EQ(Flash.Contents().size(), 131072u);
    EXPECT_EQ(CountNotErased(), 0u);
    EXPECT_EQ(Flash.Read(0), 0xFF);
    EXPECT_EQ(Flash.Read(0x1FFFF), 0xFF);
}

TEST_F(FlashChipTest, LoadFillsFromZeroAndLeavesTheRestErased)
{
    PlainProgram(0x100, 0x00);
    const std::vector<uint8_t> image{0x12, 0x34, 0x56};
    Flash.Load(image.data(), image.size());
    EXPECT_EQ(Flash.Read(0), 0x12);
    EXPECT_EQ(Flash.Read(2), 0x56);
    EXPECT_EQ(Flash.Read(3), 0xFF);
    EXPECT_EQ(Flash.Read(0x100), 0xFF) << "Load replaces the whole array";
}

TEST_F(FlashChipTest, LoadIgnoresBytesBeyondTheArray)
{
    std::vector<uint8_t> image(FlashSize + 16, 0x5A);
    Flash.Load(image.data(), image.size());
    EXPECT_EQ(Flash.Contents().size(), FlashSize);
    EXPECT_EQ(Flash.Read(FlashSize - 1), 0x5A);
}

TEST_F(FlashChipTest, PlainProgramWritesExactlyOneByte)
{
    PlainProgram(0x1234, 0x5A);
    EXPECT_EQ(Flash.Read(0x1234), 0x5A);
    EXPECT_EQ(CountNotErased(), 1u);
    // The program command is spent: a further cycle is no program.
    Flash.Write(0x1235, 0x00);
    EXPECT_EQ(Flash.Read(0x1235), 0xFF);
    EXPECT_FALSE(Flash.InBypassMode());
}

TEST_F(FlashChipTest, ProgrammingOnlyClearsBits)
{
    PlainProgram(0x40, 0xF0);
    PlainProgram(0x40, 0x3C);
    EXPECT_EQ(Flash.Read(0x40), 0x30);
    PlainProgram(0x40, 0xFF);
    EXPECT_EQ(Flash.Read(0x40), 0x30) << "programming 1 bits cannot undo 0 bits";
}

TEST_F(FlashChipTest, PlainWritesWithoutCommandDoNothing)
{
    Flash.Write(0x10, 0x00);
    Flash.Write(0x555, 0xA0);
    Flash.Write(0x11, 0x00);
    EXPECT_EQ(CountNotErased(), 0u);
}

TEST_F(FlashChipTest, CommandCyclesDecodeOnlyTheLow11AddressBits)
{
    Flash.Write(0x7D55, 0xAA);
    Flash.Write(0x1AAA, 0x55);
    Flash.Write(0x10555, 0xA0);
    Flash.Write(0x200, 0x11);
    EXPECT_EQ(Flash.Read(0x200), 0x11);

    // 0x554 and 0x2AB differ in the decoded bits.
    Flash.Write(0x554, 0xAA);
    Flash.Write(0x2AA, 0x55);
    Flash.Write(0x555, 0xA0);
    Flash.Write(0x201, 0x11);
    Unlock();
    Flash.Write(0x2AB, 0xA0);
    Flash.Write(0x202, 0x11);
    EXPECT_EQ(Flash.Read(0x201), 0xFF);
    EXPECT_EQ(Flash.Read(0x202), 0xFF);
}

TEST_F(FlashChipTest, AddressesWrapIntoThe128KiBArray)
{
    PlainProgram(0x20010, 0x77);
    EXPECT_EQ(Flash.Contents()[0x10], 0x77);
    EXPECT_EQ(Flash.Read(0x10), 0x77);
    EXPECT_EQ(Flash.Read(0xFE0010), 0x77);
    EXPECT_EQ(Flash.Read(0x60010), 0x77);
}

TEST_F(FlashChipTest, ResetCancelsEveryHalfEnteredSequence)
{
    const std::vector<std::pair<uint32_t, uint8_t>> sequence{
        {0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0x80}, {0x555, 0xAA}, {0x2AA, 0x55}};
    for (size_t length = 1; length <= sequence.size(); ++length)
    {
        for (size_t i = 0; i < length; ++i)
        {
            Flash.Write(sequence[i].first, sequence[i].second);
        }
        Flash.Write(0x1234, 0xF0);
        // Whatever the sequence would have become, its last cycle now means nothing.
        Flash.Write(0x555, 0x10);
        Flash.Write(0x555, 0xA0);
        Flash.Write(0x300, 0x00);
        EXPECT_FALSE(Flash.Busy()) << "erase started after " << length << " cycles and a reset";
        EXPECT_EQ(Flash.Read(0x300), 0xFF) << "programmed after " << length << " cycles";
    }
}

TEST_F(FlashChipTest, ResetBeforeTheProgramCycleCancelsTheProgram)
{
    Unlock();
    Flash.Write(0x555, 0xF0);
    Flash.Write(0x555, 0xA0);
    Flash.Write(0x300, 0x00);
    EXPECT_EQ(Flash.Read(0x300), 0xFF);
}

TEST_F(FlashChipTest, BrokenSequenceIsDroppedAndTheNextOneWorks)
{
    Flash.Write(0x555, 0xAA);
    Flash.Write(0x2AA, 0x54);
    Flash.Write(0x555, 0xA0);
    Flash.Write(0x300, 0x00);
    EXPECT_EQ(Flash.Read(0x300), 0xFF);

    Flash.Write(0x555, 0xAA);
    Flash.Write(0x555, 0x55);
    Flash.Write(0x555, 0x20);
    EXPECT_FALSE(Flash.InBypassMode());

    Unlock();
    Flash.Write(0x554, 0x90);
    Flash.Write(0x300, 0x00);
    EXPECT_EQ(Flash.Read(0x300), 0xFF);

    PlainProgram(0x300, 0x42);
    EXPECT_EQ(Flash.Read(0x300), 0x42);
}

TEST_F(FlashChipTest, BrokenEraseSequenceDoesNotErase)
{
    PlainProgram(0x10, 0x00);
    Unlock();
    Flash.Write(0x555, 0x80);
    Unlock();
    Flash.Write(0x555, 0x31);
    Unlock();
    Flash.Write(0x555, 0x80);
    Flash.Write(0x555, 0xAA);
    Flash.Write(0x2AA, 0x55);
    Flash.Write(0x554, 0x10);
    EXPECT_FALSE(Flash.Busy());
    EXPECT_EQ(Flash.Read(0x10), 0x00);
}

TEST_F(FlashChipTest, WeakCellReadsBitZeroInvertedButStoresTheTruth)
{
    Flash.AddBadCell(0x20040); // reduced into the array like any address
    PlainProgram(0x40, 0xA4);
    EXPECT_EQ(Flash.Read(0x40), 0xA5);
    EXPECT_EQ(Flash.Contents()[0x40], 0xA4);
    EXPECT_EQ(Flash.Read(0x41), 0xFF);
}

class FlashChipEraseTest : public FlashChipTest
{
};

TEST_F(FlashChipEraseTest, ChipEraseTakesItsTimeThenEverythingReadsErased)
{
    for (uint32_t address : {0u, 0x777u, 0x1FFFFu})
    {
        PlainProgram(address, 0x00);
    }
    Now = 1000;
    StartChipErase();
    EXPECT_TRUE(Flash.Busy());
    Now = 2499;
    EXPECT_TRUE(Flash.Busy());
    EXPECT_NE(Flash.Read(0x777), 0xFF);
    Now = 2500;
    EXPECT_FALSE(Flash.Busy());
    EXPECT_EQ(CountNotErased(), 0u);
    EXPECT_EQ(Flash.Read(0x1FFFF), 0xFF);
}

TEST_F(FlashChipEraseTest, StatusReadsWhileErasing)
{
    StartChipErase();
    uint8_t previous = Flash.Read(0);
    for (int i = 0; i < 100; ++i)
    {
        const uint8_t status = Flash.Read(static_cast<uint32_t>(i * 997));
        EXPECT_EQ(status & 0x80, 0) << "DQ7 reads 0 until the erase is done";
        EXPECT_NE(status, 0xFF);
        EXPECT_EQ((status ^ previous) & 0x40, 0x40) << "DQ6 toggles on each read, read " << i;
        previous = status;
    }
    Now = 1500;
    EXPECT_EQ(Flash.Read(0), 0xFF);
    EXPECT_EQ(Flash.Read(0), 0xFF) << "no more toggling once done";
}

TEST_F(FlashChipEraseTest, WritesAreIgnoredWhileErasing)
{
    StartChipErase();
    Now = 100;
    PlainProgram(0x50, 0x00);
    EnterBypass();
    Flash.Write(0, 0xF0); // not even a reset stops an erase
    Now = 1499;
    EXPECT_TRUE(Flash.Busy());
    Now = 1500;
    EXPECT_FALSE(Flash.Busy());
    EXPECT_FALSE(Flash.InBypassMode());
    EXPECT_EQ(CountNotErased(), 0u);
    PlainProgram(0x50, 0x00);
    EXPECT_EQ(Flash.Read(0x50), 0x00) << "commands work again after the erase";
}

TEST_F(FlashChipEraseTest, EraseThatNeverEndsKeepsReportingStatus)
{
    Flash.SetEraseNeverEnds(true);
    StartChipErase();
    Now = 1000000000;
    EXPECT_TRUE(Flash.Busy());
    EXPECT_EQ(Flash.Read(0) & 0x80, 0);
}

TEST(FlashChipEraseTime, ZeroDurationEraseIsDoneAtOnce)
{
    CFlashChip flash([] { return int64_t{5}; }, 0);
    flash.Write(0x555, 0xAA);
    flash.Write(0x2AA, 0x55);
    flash.Write(0x555, 0xA0);
    flash.Write(0x9, 0x00);
    flash.Write(0x555, 0xAA);
    flash.Write(0x2AA, 0x55);
    flash.Write(0x555, 0x80);
    flash.Write(0x555, 0xAA);
    flash.Write(0x2AA, 0x55);
    flash.Write(0x555, 0x10);
    EXPECT_EQ(flash.Read(0x9), 0xFF);
}

class FlashChipBypassTest : public FlashChipTest
{
};

TEST_F(FlashChipBypassTest, ProgramsWithTwoCyclesPerByte)
{
    EnterBypass();
    ASSERT_TRUE(Flash.InBypassMode());
    for (uint32_t i = 0; i < 64; ++i)
    {
        BypassProgram(0x1000 + i, static_cast<uint8_t>(i));
    }
    for (uint32_t i = 0; i < 64; ++i)
    {
        EXPECT_EQ(Flash.Read(0x1000 + i), i);
    }
    EXPECT_EQ(CountNotErased(), 64u);
    EXPECT_TRUE(Flash.InBypassMode());
}

TEST_F(FlashChipBypassTest, DataCycleWithoutA0DoesNotProgram)
{
    EnterBypass();
    Flash.Write(0x20, 0x00);
    Flash.Write(0x21, 0x12);
    EXPECT_EQ(CountNotErased(), 0u);
}

TEST_F(FlashChipBypassTest, ProgrammingStillOnlyClearsBits)
{
    EnterBypass();
    BypassProgram(0x7, 0x0F);
    BypassProgram(0x7, 0xF5);
    EXPECT_EQ(Flash.Read(0x7), 0x05);
}

TEST_F(FlashChipBypassTest, ResetWith90Then00LeavesBypass)
{
    EnterBypass();
    Flash.Write(0, 0x90);
    Flash.Write(0, 0x00);
    EXPECT_FALSE(Flash.InBypassMode());
    BypassProgram(0x30, 0x00);
    EXPECT_EQ(Flash.Read(0x30), 0xFF);
}

TEST_F(FlashChipBypassTest, ResetWith90ThenF0LeavesBypass)
{
    EnterBypass();
    Flash.Write(0x4000, 0x90);
    Flash.Write(0x1, 0xF0);
    EXPECT_FALSE(Flash.InBypassMode());
    BypassProgram(0x30, 0x00);
    EXPECT_EQ(Flash.Read(0x30), 0xFF);
    PlainProgram(0x31, 0x00);
    EXPECT_EQ(Flash.Read(0x31), 0x00) << "the full command set is back";
}

TEST_F(FlashChipBypassTest, OnlyBypassCommandsAreHeard)
{
    EnterBypass();
    Flash.Write(0, 0xF0);
    Flash.Write(0x555, 0xAA);
    Flash.Write(0, 0x90);
    Flash.Write(0, 0x55); // not a bypass reset second cycle
    EXPECT_TRUE(Flash.InBypassMode());
    BypassProgram(0x60, 0x21);
    EXPECT_EQ(Flash.Read(0x60), 0x21);
}

TEST_F(FlashChipBypassTest, ProgramCycleTakesAnyDataEvenCommandBytes)
{
    EnterBypass();
    BypassProgram(0x70, 0x90);
    BypassProgram(0x71, 0xF0);
    EXPECT_TRUE(Flash.InBypassMode());
    EXPECT_EQ(Flash.Read(0x70), 0x90);
    EXPECT_EQ(Flash.Read(0x71), 0xF0);
}
