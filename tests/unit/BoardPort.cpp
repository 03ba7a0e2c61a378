#include "tests/unit/BoardPort.h"

#include "base/Clock.h"
#include "base/Diagnostic.h"
#include "board/EmulatedBoard.h"
#include "board/FlashChip.h"
#include "board/FrameServer.h"
#include "serial/ComPort.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <utility>

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
    std::vector<long long> Times;
};

using CBoard = std::shared_ptr<CBoardOnLine>;

std::vector<CBoard> Boards;
CBoardOnLine* OnLine = nullptr; // the board that answers, nullptr while the line is empty
std::deque<uint8_t> Replies;
bool Opens = true;
bool DevicePresent = true;
// Each time the device goes, a port opened before is dead for good.
int DeviceLife = 0;
int OpenedLife = -1;
int Openings = 0;

// What happens at a frame of the board on the line.
struct CFrameChange
{
    std::function<bool(const uint8_t* frame)> Match;
    int Left = 0;
    std::function<void()> Change;
};
CFrameChange FrameChange;

void CountFrame(const std::vector<uint8_t>& sent)
{
    if (FrameChange.Left > 0 && sent.size() % 5 == 0 && FrameChange.Match(&sent[sent.size() - 5]) &&
        --FrameChange.Left == 0)
    {
        FrameChange.Change();
    }
}

bool PortAlive()
{
    return TargetPort.IsOpen() && DevicePresent && OpenedLife == DeviceLife;
}

// Takes up to maximum queued replies; fewer than minimum means the port waited its time-out.
int TakeReplies(void* buffer, int minimum, int maximum, int timeoutMs)
{
    const int count = std::min(maximum, static_cast<int>(Replies.size()));
    std::copy_n(Replies.begin(), count, static_cast<uint8_t*>(buffer));
    Replies.erase(Replies.begin(), Replies.begin() + count);
    if (count < minimum)
    {
        PauseMilliseconds(timeoutMs);
    }
    return count;
}

bool MakeBoard(const std::vector<std::string>& options, const std::vector<uint8_t>& contents,
               std::string& error, CBoard& board)
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
    board = std::make_shared<CBoardOnLine>(parsed);
    board->Flash.Load(contents.data(), contents.size());
    ConfigureFlash(board->Flash, parsed);
    return true;
}

void PutOn(const CBoard& board)
{
    Boards.push_back(board);
    OnLine = board.get();
}

// A probe: a read of address 0.
bool IsProbe(const std::vector<uint8_t>& sent, size_t frame)
{
    const std::vector<uint8_t> read = {0x00, 0x00, 0x00, 0x00, 0x00};
    return std::equal(read.begin(), read.end(), sent.begin() + frame * 5);
}

CBoardOnLine& Board(int board)
{
    return *Boards.at(board < 0 ? Boards.size() - 1 : static_cast<size_t>(board));
}

} // namespace

bool ConnectBoard(const std::vector<std::string>& options, const std::vector<uint8_t>& contents,
                  std::string& error)
{
    CBoard board;
    if (!MakeBoard(options, contents, error, board))
    {
        return false;
    }
    Boards.clear();
    Replies.clear();
    FrameChange = CFrameChange();
    PutOn(board);
    Opens = true;
    DevicePresent = true;
    Openings = 0;
    TargetPort.Close();
    return true;
}

bool PutBoardOnAt(long long atMs, const std::vector<std::string>& options,
                  const std::vector<uint8_t>& contents, std::string& error)
{
    CBoard board;
    if (!MakeBoard(options, contents, error, board))
    {
        return false;
    }
    AtFakeTime(atMs, [board] { PutOn(board); });
    return true;
}

void TakeBoardOffAt(long long atMs)
{
    AtFakeTime(atMs, [] { OnLine = nullptr; });
}

void UnplugPort()
{
    DevicePresent = false;
    ++DeviceLife;
    OnLine = nullptr;
    Replies.clear();
}

void UnplugPortAt(long long goneMs, long long backMs)
{
    AtFakeTime(goneMs, UnplugPort);
    AtFakeTime(backMs, [] { DevicePresent = true; });
}

void AtFrame(const std::function<bool(const uint8_t* frame)>& match, int nth,
             std::function<void()> change)
{
    FrameChange = {match, nth, std::move(change)};
}

void RequestStopAt(long long atMs, int signalNumber)
{
    AtFakeTime(atMs, [signalNumber] { RequestFakeStop(signalNumber); });
}

void SetPortOpens(bool opens)
{
    Opens = opens;
}

int BoardsPutOn()
{
    return static_cast<int>(Boards.size());
}

const std::vector<uint8_t>& BytesSent(int board)
{
    return Board(board).Sent;
}

const std::vector<long long>& ByteTimes(int board)
{
    return Board(board).Times;
}

const std::vector<uint8_t>& BoardFlash(int board)
{
    return Board(board).Flash.Contents();
}

long long FirstNonProbeMs(int board)
{
    const std::vector<uint8_t>& sent = BytesSent(board);
    for (size_t frame = 0; frame < sent.size() / 5; ++frame)
    {
        if (!IsProbe(sent, frame))
        {
            return ByteTimes(board)[frame * 5];
        }
    }
    return -1;
}

size_t FramesWith(int board, uint8_t command)
{
    size_t frames = 0;
    for (size_t frame = 0; frame < BytesSent(board).size() / 5; ++frame)
    {
        frames += BytesSent(board)[frame * 5] == command ? 1 : 0;
    }
    return frames;
}

size_t ProbesSent(int board)
{
    size_t probes = 0;
    for (size_t frame = 0; frame < BytesSent(board).size() / 5; ++frame)
    {
        probes += IsProbe(BytesSent(board), frame) ? 1 : 0;
    }
    return probes;
}

bool PortOpenNow()
{
    return TargetPort.IsOpen();
}

int PortOpenings()
{
    return Openings;
}

void ReleaseOpenPorts() {}

bool CComPort::Open(const char* mode)
{
    RunDueChanges();
    snprintf(DeviceText, sizeof DeviceText, "%s", "board");
    Lost = false;
    Handle = Opens && DevicePresent ? 1 : -1;
    OpenedLife = DeviceLife;
    Openings += Handle != -1 ? 1 : 0;
    // As the real port tells why it cannot open.
    if (Handle == -1)
    {
        Diagnose("cannot open board: No such device");
    }
    // The one mode the link is ever opened with; anything else would be a fault of the host.
    char expected[40];
    snprintf(expected, sizeof expected, "COM%d:115200,e,8,1", atoi(mode + 3));
    return Handle != -1 && strcmp(mode, expected) == 0;
}

int CComPort::Read(void* buffer, int count)
{
    return ReadWithin(buffer, count, ReadTimeoutMs);
}

int CComPort::ReadWithin(void* buffer, int count, int timeoutMs)
{
    RunDueChanges();
    Lost = Lost || !PortAlive();
    return Lost ? 0 : TakeReplies(buffer, count, count, timeoutMs);
}

int CComPort::ReadAvailable(void* buffer, int minimum, int maximum)
{
    RunDueChanges();
    Lost = Lost || !PortAlive();
    return Lost ? 0 : TakeReplies(buffer, minimum, maximum, ReadTimeoutMs);
}

// Frames sent while no board is on go nowhere.
int CComPort::Write(const void* buffer, int count)
{
    RunDueChanges();
    Lost = Lost || !PortAlive();
    if (Lost)
    {
        return 0;
    }
    const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
    std::vector<uint8_t> reply;
    for (int i = 0; i < count && OnLine != nullptr; ++i)
    {
        OnLine->Sent.push_back(bytes[i]);
        OnLine->Times.push_back(FakeClockMilliseconds());
        OnLine->Server.Receive(bytes[i], reply);
        CountFrame(OnLine->Sent);
    }
    Replies.insert(Replies.end(), reply.begin(), reply.end());
    return count;
}

uint32_t CComPort::QueryStatus(int kind)
{
    return kind == 0 && PortAlive() ? static_cast<uint32_t>(Replies.size()) : 0;
}

bool CComPort::PurgeInput()
{
    Replies.clear();
    return true;
}

bool CComPort::Close()
{
    Handle = -1;
    Lost = false;
    return true;
}
