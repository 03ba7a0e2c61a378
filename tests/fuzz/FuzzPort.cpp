// Defines every member of CComPort and TargetPort itself, so that the linker never takes the
// real port's object out of orbelt_serial.
#include "tests/fuzz/FuzzPort.h"

#include "tests/fuzz/FuzzCheck.h"

#include "serial/ComPort.h"
#include "target/TargetLink.h"

#include <cstring>

CComPort TargetPort;

namespace
{

const uint8_t* Replies = nullptr;
size_t ReplyLength = 0;
size_t ReplyOffset = 0;
bool Opens = true;
bool PortOpen = false;
std::vector<FuzzFrame> Frames;
size_t RealignBytes = 0;

void CheckFrame(const unsigned char* bytes)
{
    switch (bytes[0])
    {
    case CommandRead:
        FUZZ_CHECK(bytes[4] == 0x00);
        break;
    case CommandWriteCycle:
    case CommandProgram:
        break;
    default:
        FuzzFail("frame with an unknown command");
    }
}

} // namespace

void ResetFuzzPort(const uint8_t* replies, size_t length, bool opens)
{
    Replies = replies;
    ReplyLength = length;
    ReplyOffset = 0;
    Opens = opens;
    PortOpen = false;
    Frames.clear();
    RealignBytes = 0;
}

void ClearFuzzFrames()
{
    Frames.clear();
}

size_t FuzzRepliesLeft()
{
    return ReplyLength - ReplyOffset;
}

const std::vector<FuzzFrame>& FuzzFramesWritten()
{
    return Frames;
}

size_t FuzzRealignBytesWritten()
{
    return RealignBytes;
}

bool FuzzPortIsOpen()
{
    return PortOpen;
}

void ReleaseOpenPorts() {}

bool CComPort::Open(const char* mode)
{
    FUZZ_CHECK(mode != nullptr && strncmp(mode, "COM", 3) == 0);
    FUZZ_CHECK(strstr(mode, ":115200,e,8,1") != nullptr);
    PortOpen = Opens;
    Handle = PortOpen ? 3 : -1;
    ByteNanoseconds = 0; // no line: replies are there at once
    return PortOpen;
}

int CComPort::Read(void* buffer, int count)
{
    FUZZ_CHECK(Handle != -1);
    FUZZ_CHECK(count >= 0);
    size_t take = FuzzRepliesLeft() < static_cast<size_t>(count) ? FuzzRepliesLeft()
                                                                 : static_cast<size_t>(count);
    if (take > 0)
    {
        memcpy(buffer, Replies + ReplyOffset, take);
    }
    ReplyOffset += take;
    return static_cast<int>(take);
}

int CComPort::ReadWithin(void* buffer, int count, int timeoutMs)
{
    FUZZ_CHECK(timeoutMs > 0 && timeoutMs <= ReadTimeoutMs);
    return Read(buffer, count);
}

int CComPort::ReadAvailable(void* buffer, int minimum, int maximum)
{
    FUZZ_CHECK(minimum >= 0 && minimum <= maximum);
    return Read(buffer, maximum);
}

// Whole frames only: the transactions never split one across writes. Only the realignment of
// the board's frame reader sends four bytes of 0xFF and single zero bytes.
int CComPort::Write(const void* buffer, int count)
{
    FUZZ_CHECK(Handle != -1);
    const unsigned char* bytes = static_cast<const unsigned char*>(buffer);
    const unsigned char filler[] = {0xFF, 0xFF, 0xFF, 0xFF};
    if ((count == 1 && bytes[0] == 0x00) || (count == 4 && memcmp(bytes, filler, 4) == 0))
    {
        RealignBytes += static_cast<size_t>(count);
        return count;
    }
    FUZZ_CHECK(count >= 0 && count % static_cast<int>(sizeof(FuzzFrame)) == 0);
    for (int at = 0; at < count; at += static_cast<int>(sizeof(FuzzFrame)))
    {
        FuzzFrame frame;
        memcpy(frame.Bytes, bytes + at, sizeof frame.Bytes);
        CheckFrame(frame.Bytes);
        Frames.push_back(frame);
    }
    return count;
}

uint32_t CComPort::QueryStatus(int kind)
{
    FUZZ_CHECK(Handle != -1);
    if (kind != 0)
    {
        return 0;
    }
    size_t left = FuzzRepliesLeft();
    return left > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(left);
}

bool CComPort::PurgeInput()
{
    FUZZ_CHECK(Handle != -1);
    ReplyOffset = ReplyLength;
    return true;
}

bool CComPort::Close()
{
    PortOpen = false;
    Handle = -1;
    return true;
}
