// Station mode's waits on the line, in process: boards of the flash model that the test puts
// on, takes off and unplugs at fake times.
#include "target/Download.h"
#include "target/Station.h"
#include "tests/unit/BoardPort.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

namespace
{

const std::vector<std::string> Quick = {"--erase-ms", "0"};

std::vector<ELineState> Shown;

void Record(ELineState state)
{
    Shown.push_back(state);
}

void StartLine(bool boardOn)
{
    std::string error;
    ASSERT_TRUE(ConnectBoard(Quick, {}, error)) << error;
    ResetFakeClock();
    ResetFakeStop();
    if (!boardOn)
    {
        TakeBoardOffAt(0);
    }
    ASSERT_TRUE(ReopenTargetPort());
    Shown.clear();
}

TEST(StationWait, StartsHalfASecondAfterTheBoardCame)
{
    StartLine(false);
    std::string error;
    ASSERT_TRUE(PutBoardOnAt(1100, Quick, {}, error)) << error;
    ASSERT_TRUE(AwaitNewBoard(Record));
    const long long settled = FakeClockMilliseconds() - 1100;
    RecordProperty("settle_ms", static_cast<int>(settled));
    EXPECT_GE(settled, SettleMs);
    EXPECT_LE(settled, SettleMs + ProbePeriodMs + ProbeWaitMs);
    EXPECT_EQ(Shown.front(), LineEmpty);
    EXPECT_EQ(Shown.back(), LineSettling);
    EXPECT_EQ(ProbesSent(1), 3u);
}

TEST(StationWait, BouncingContactsStartNothing)
{
    StartLine(false);
    std::string error;
    for (long long on = 1000; on < 6000; on += 700)
    {
        ASSERT_TRUE(PutBoardOnAt(on, Quick, {}, error)) << error;
        TakeBoardOffAt(on + 400);
    }
    RequestStopAt(8000, SIGINT);
    EXPECT_FALSE(AwaitNewBoard(Record));
    EXPECT_GE(FakeClockMilliseconds(), 8000);
    for (int board = 1; board < BoardsPutOn(); ++board)
    {
        EXPECT_GE(ProbesSent(board), 1u) << "board " << board;
        EXPECT_EQ(FirstNonProbeMs(board), -1) << "board " << board;
    }
}

// A device that sends more than the one byte a read brings (here 0xEE after each probe) is no
// board, however steadily it answers.
TEST(StationWait, DeviceThatTalksOnItsOwnIsNoBoard)
{
    StartLine(false);
    std::vector<std::string> chatty = Quick;
    for (int frame = 1; frame <= 40; ++frame)
    {
        chatty.insert(chatty.end(), {"--surplus", std::to_string(frame) + ":1"});
    }
    std::string error;
    ASSERT_TRUE(PutBoardOnAt(0, chatty, {}, error)) << error;
    RequestStopAt(8000, SIGINT);
    EXPECT_FALSE(AwaitNewBoard(Record));
    EXPECT_EQ(ProbesSent(1), 8000u / ProbePeriodMs);
    EXPECT_EQ(FirstNonProbeMs(1), -1);
}

TEST(StationWait, BoardGoneAfterASecondWithoutAnswer)
{
    StartLine(true);
    TakeBoardOffAt(2000);
    ASSERT_TRUE(AwaitBoardGone(Record));
    const long long noticed = FakeClockMilliseconds() - 2000;
    RecordProperty("gone_ms", static_cast<int>(noticed));
    EXPECT_GE(noticed, GoneMs);
    EXPECT_LE(noticed, GoneMs + ProbePeriodMs + ProbeWaitMs);
    EXPECT_TRUE(PortOpenNow());
    EXPECT_EQ(FirstNonProbeMs(0), -1);
}

// The adapter went with the board: gone at once, the port let go, and opened again for the
// next board once the device is back.
TEST(StationWait, PortThatVanishesIsABoardGoneAndOpensAgain)
{
    StartLine(true);
    UnplugPortAt(2000, 5000);
    ASSERT_TRUE(AwaitBoardGone(Record));
    EXPECT_LE(FakeClockMilliseconds() - 2000, ProbePeriodMs + ProbeWaitMs);
    EXPECT_FALSE(PortOpenNow());
    std::string error;
    ASSERT_TRUE(PutBoardOnAt(5000, Quick, {}, error)) << error;
    ASSERT_TRUE(AwaitNewBoard(Record));
    EXPECT_GE(FakeClockMilliseconds(), 5000 + SettleMs);
    EXPECT_LE(FakeClockMilliseconds(), 5000 + SettleMs + ProbePeriodMs + ProbeWaitMs);
    EXPECT_EQ(PortOpenings(), 2);
}

} // namespace
