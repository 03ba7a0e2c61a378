// The counter file shared by processes: each number handed out once (a killed run: see
// tests/e2e/SerialNumberTest.cpp).
#include "tests/support/Files.h"
#include "tests/support/Process.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

TEST(CounterProcessTest, TwoProcessesNeverTakeTheSameNumber)
{
    CTempDirectory folder;
    const std::string counter = folder.File("serial.txt");
    ASSERT_TRUE(WriteFileText(counter, "5000\n"));
    const int each = 100;
    CBackgroundProcess takers[2];
    for (CBackgroundProcess& taker : takers)
    {
        ASSERT_TRUE(taker.Start({ORBELT_COUNTER_TAKER, counter, std::to_string(each)}));
    }
    std::set<long> numbers;
    for (CBackgroundProcess& taker : takers)
    {
        ASSERT_TRUE(taker.Wait(60));
        ASSERT_TRUE(taker.Result().ExitedWith(0)) << taker.Result().Describe();
        std::istringstream lines(taker.Stdout());
        for (long number = 0; lines >> number;)
        {
            EXPECT_TRUE(numbers.insert(number).second) << number << " handed out twice";
        }
    }
    EXPECT_EQ(numbers.size(), 2u * each);
    EXPECT_EQ(*numbers.begin(), 5000);
    EXPECT_EQ(ReadFileText(counter), std::to_string(5000 + 2 * each) + "\nfirst 5000\n");
}
