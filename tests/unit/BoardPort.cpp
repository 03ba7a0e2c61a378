#include "tests/unit/BoardPort.h"

#include "base/Clock.h"
#include "board/FlashChip.h"
#include "board/FrameServer.h"
#include "serial/ComPort.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>

CComPort TargetPort;

namespace
{

struct CBoardOnLine
{
    explicit CBoardOnLine(const CBoardOptions& options)
        : Options(options), Flash(FakeClockMilliseconds, options.EraseMilliseconds),
          Server(Flash, Options)
    {
    }

    CBoardOptions Options;
    CFlashChip Flash;
    CFrameServer Server;
    std::vector<uint8_t> Sent;
    std::deque<uint8_t> Replies;
};

std::unique_ptr<CBoardOnLine> Board;
bool Opens = true;

// Takes up to maximum queued replies; fewer than minimum means the port waited its time-out.
int TakeReplies(void* buffer, int minimum, int maximum)
{
    const int count = std::min(maximum, static_cast<int>(Board->Replies.size()));
    std::copy_n(Board->Replies.begin(), count, static_cast<uint8_t*>(buffer));
    Board->Replies.erase(Board->Replies.begin(), Board->Replies.begin() + count);
    if (count < minimum)
    {
        PauseMilliseconds(ReadTimeoutMs);
    }
    return count;
}

} // namespace

bool ConnectBoard(const std::vector<std::string>& options, const std::vector<uint8_t>& contents,
                  std::string& error)
{
    std::vector<const char*> argv = {"orbelt-board"};
    for (const std::string& option : options)
    {
        argv.push_back(option.c_str());
    }
    CBoardOptions parsed;
    if (!ParseBoardOptions(static_cast<int>(argv.size()), argv.data(), parsed, error))
    {
        return false;
    }
    Board = std::make_unique<CBoardOnLine>(parsed);
    Board->Flash.Load(contents.data(), contents.size());
    for (uint32_t address : parsed.BadCells)
    {
        Board->Flash.AddBadCell(address);
    }
    Board->Flash.SetEraseNeverEnds(parsed.EraseNever);
    Opens = true;
    return true;
}

void SetPortOpens(bool opens)
{
    Opens = opens;
}

const std::vector<uint8_t>& BytesSent()
{
    return Board->Sent;
}

const std::vector<uint8_t>& BoardFlash()
{
    return Board->Flash.Contents();
}

void ReleaseOpenPorts() {}

bool CComPort::Open(const char* mode)
{
    snprintf(DeviceText, sizeof DeviceText, "%s", "board");
    Handle = Opens && Board != nullptr ? 1 : -1;
    // The one mode the link is ever opened with; anything else would be a fault of the host.
    char expected[40];
    snprintf(expected, sizeof expected, "COM%d:115200,e,8,1", atoi(mode + 3));
    return Handle != -1 && strcmp(mode, expected) == 0;
}

int CComPort::Read(void* buffer, int count)
{
    return TakeReplies(buffer, count, count);
}

int CComPort::ReadAvailable(void* buffer, int minimum, int maximum)
{
    return TakeReplies(buffer, minimum, maximum);
}

int CComPort::Write(const void* buffer, int count)
{
    const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
    std::vector<uint8_t> reply;
    for (int i = 0; i < count; ++i)
    {
        Board->Sent.push_back(bytes[i]);
        Board->Server.Receive(bytes[i], reply);
    }
    Board->Replies.insert(Board->Replies.end(), reply.begin(), reply.end());
    return count;
}

uint32_t CComPort::QueryStatus(int kind)
{
    return kind == 0 ? static_cast<uint32_t>(Board->Replies.size()) : 0;
}

bool CComPort::PurgeInput()
{
    Board->Replies.clear();
    return true;
}

bool CComPort::Close()
{
    Handle = -1;
    return true;
}
