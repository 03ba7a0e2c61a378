#include "tests/support/Board.h"

std::vector<uint8_t> MakeFrame(uint8_t command, uint32_t address, uint8_t data)
{
    return {command, static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8),
            static_cast<uint8_t>(address >> 16), data};
}

std::vector<uint8_t> MakeProgramPair(uint32_t address, uint8_t data)
{
    std::vector<uint8_t> pair = MakeFrame(0x80, 0x333, 0xA0);
    const std::vector<uint8_t> program = MakeFrame(0xC0, address, data);
    pair.insert(pair.end(), program.begin(), program.end());
    return pair;
}

std::vector<CBoardFrame> SplitFrames(const std::vector<uint8_t>& bytes)
{
    std::vector<CBoardFrame> frames;
    for (size_t at = 0; at + 5 <= bytes.size(); at += 5)
    {
        CBoardFrame frame;
        std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                  bytes.begin() + static_cast<std::ptrdiff_t>(at + 5), frame.begin());
        frames.push_back(frame);
    }
    return frames;
}

CBoardProcess::~CBoardProcess()
{
    if (Board.Running())
    {
        Board.Stop(5);
    }
}

bool CBoardProcess::Start(const std::vector<std::string>& options, double timeoutSeconds)
{
    if (!Temp.Valid())
    {
        return false;
    }
    std::vector<std::string> argv{ORBELT_BOARD_PATH, "--dump", DumpPath(), "--trace", TracePath()};
    argv.insert(argv.end(), options.begin(), options.end());
    return Board.Start(argv) && Board.ReadFirstLine(DevicePath, timeoutSeconds) &&
           !DevicePath.empty();
}

bool CBoardProcess::Stop(double timeoutSeconds)
{
    return Board.Stop(timeoutSeconds) && Board.Result().ExitedWith(0);
}

bool CBoardProcess::WaitExit(double timeoutSeconds)
{
    return Board.Wait(timeoutSeconds);
}

int CBoardProcess::ExitCode()
{
    const CProcessResult& result = Board.Result();
    return !Board.Running() && result.Exited ? result.ExitCode : -1;
}
