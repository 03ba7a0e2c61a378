#include "tests/support/Board.h"

#include <chrono>
#include <thread>

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

bool CBoardProcess::Start(const std::vector<std::string>& options, double timeoutSeconds,
                          EStdin input)
{
    if (!Temp.Valid())
    {
        return false;
    }
    std::vector<std::string> argv{ORBELT_BOARD_PATH, "--dump", DumpPath(), "--trace", TracePath()};
    argv.insert(argv.end(), options.begin(), options.end());
    CProcessOptions processOptions;
    processOptions.Stdin = input;
    return Board.Start(argv, processOptions) && Board.ReadFirstLine(DevicePath, timeoutSeconds) &&
           !DevicePath.empty();
}

std::vector<std::string> CBoardProcess::Devices() const
{
    std::vector<std::string> devices;
    const std::string text = Board.Stdout();
    for (size_t at = 0, end = 0; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
    {
        devices.push_back(text.substr(at, end - at));
    }
    return devices;
}

bool CBoardProcess::Control(const std::string& command, const std::string& logged,
                            double timeoutSeconds)
{
    const size_t from = Board.Stderr().size();
    return Board.WriteStdin(command + "\n") && WaitLogFrom(from, logged, timeoutSeconds);
}

bool CBoardProcess::WaitLog(const std::string& text, double timeoutSeconds)
{
    return WaitLogFrom(0, text, timeoutSeconds);
}

bool CBoardProcess::WaitLogFrom(size_t from, const std::string& text, double timeoutSeconds)
{
    const double deadline = MonotonicSeconds() + timeoutSeconds;
    for (;;)
    {
        const bool running = Board.Running();
        const std::string log = Board.Stderr();
        if (log.size() > from && log.find(text, from) != std::string::npos)
        {
            return true;
        }
        if (!running || MonotonicSeconds() >= deadline)
        {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
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
