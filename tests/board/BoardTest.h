#pragma once

// What the end-to-end tests of orbelt-board share: frame sequences and a fixture with the board
// and the host's end of its device.
#include "tests/support/Board.h"
#include "tests/support/Files.h"
#include "tests/support/Process.h"
#include "tests/support/Terminal.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

inline std::vector<uint8_t> Join(const std::vector<std::vector<uint8_t>>& parts)
{
    std::vector<uint8_t> joined;
    for (const std::vector<uint8_t>& part : parts)
    {
        joined.insert(joined.end(), part.begin(), part.end());
    }
    return joined;
}

inline std::vector<uint8_t> Unlock()
{
    return Join({MakeFrame(0x80, 0x555, 0xAA), MakeFrame(0x80, 0x2AA, 0x55)});
}

inline std::vector<uint8_t> EnterBypass()
{
    return Join({Unlock(), MakeFrame(0x80, 0x555, 0x20)});
}

inline std::vector<uint8_t> ChipErase()
{
    return Join({Unlock(), MakeFrame(0x80, 0x555, 0x80), Unlock(), MakeFrame(0x80, 0x555, 0x10)});
}

inline std::vector<uint8_t> Pattern(size_t length)
{
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i)
    {
        bytes[i] = static_cast<uint8_t>((i * 31) ^ (i >> 8));
    }
    return bytes;
}

inline void Pause(double seconds)
{
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

class BoardTest : public ::testing::Test
{
  protected:
    CBoardProcess Board;
    CTerminal Host;
    CTempDirectory Files;

    bool StartBoard(const std::vector<std::string>& options = {}, EStdin input = EStdin::DevNull)
    {
        if (!Board.Start(options, 10, input))
        {
            ADD_FAILURE() << "the board did not start: " << Board.Process().Result().Describe();
            return false;
        }
        if (!Host.Open(Board.Device()))
        {
            ADD_FAILURE() << "cannot open " << Board.Device();
            return false;
        }
        return true;
    }
    // Sends bytes and returns exactly count reply bytes, or what came before the timeout.
    std::vector<uint8_t> Exchange(const std::vector<uint8_t>& bytes, size_t count)
    {
        std::vector<uint8_t> reply;
        EXPECT_TRUE(Host.Write(bytes));
        EXPECT_TRUE(Host.ReadExact(count, reply)) << "got " << reply.size() << " of " << count;
        return reply;
    }
    // Nothing more arrives within the time.
    void ExpectSilence(double seconds = 0.15)
    {
        const std::vector<uint8_t> extra = Host.ReadUntilQuiet(seconds, seconds + 1);
        EXPECT_TRUE(extra.empty()) << extra.size() << " unexpected bytes, first 0x" << std::hex
                                   << (extra.empty() ? 0 : extra[0]);
    }
    std::vector<uint8_t> StopAndDump()
    {
        Host.Close();
        EXPECT_TRUE(Board.Stop()) << Board.Process().Result().Describe();
        return Board.Dump();
    }
};
