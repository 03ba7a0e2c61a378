#include "target/TargetLink.h"

#include "serial/ComPort.h"

#include <cstdio>
#include <cstring>

unsigned char VerifyBuffer[VerifyBufferSize];

namespace
{

// The write cycle that arms an unlock-bypass program, sent before every program frame.
const int BypassProgramAddress = 0x333;
const unsigned char BypassProgramCommand = 0xA0;
const int ProgramReplyLength = 3;

void SendFrame(TargetCommand command, int address, unsigned char data)
{
    TargetFrame frame = MakeTargetFrame(command, address, data);
    TargetPort.Write(frame.Bytes, sizeof frame.Bytes);
}

// Surplus bytes are left queued on purpose: they will be taken as the next replies.
void WarnOfSurplus(const char* warning)
{
    if (TargetPort.QueryStatus(0) != 0)
    {
        printf("%s", warning);
    }
}

// All read frames of a block go out before the one read of their replies.
bool ReceiveBlock(int address, unsigned char* data, int length)
{
    if (length < 0 || length > VerifyBufferSize)
    {
        return false;
    }
    for (int i = 0; i < length; ++i)
    {
        SendFrame(CommandRead, address + i, 0x00);
    }
    return TargetPort.Read(data, length) == length;
}

} // namespace

TargetFrame MakeTargetFrame(TargetCommand command, int address, unsigned char data)
{
    TargetFrame frame = {{
        command,
        static_cast<unsigned char>(address),
        static_cast<unsigned char>(address >> 8),
        static_cast<unsigned char>(address >> 16),
        data,
    }};
    return frame;
}

bool ReadTargetByte(int address, unsigned char& value)
{
    SendFrame(CommandRead, address, 0x00);
    if (TargetPort.Read(&value, 1) != 1)
    {
        return false;
    }
    WarnOfSurplus("Read More \n");
    return true;
}

bool WriteTargetCycle(int address, unsigned char value)
{
    SendFrame(CommandWriteCycle, address, value);
    unsigned char acknowledgement = 0;
    if (TargetPort.Read(&acknowledgement, 1) != 1)
    {
        return false;
    }
    if (acknowledgement == 0xFF)
    {
        WarnOfSurplus("Write More \n");
    }
    return true;
}

bool ProgramBlock(int address, const unsigned char* data, int length)
{
    // All replies of a block wait in the receive queue until the last frame is out.
    if (length < 0 || length > PortQueueSize / ProgramReplyLength)
    {
        return false;
    }
    for (int i = 0; i < length; ++i)
    {
        SendFrame(CommandWriteCycle, BypassProgramAddress, BypassProgramCommand);
        SendFrame(CommandProgram, address + i, data[i]);
    }
    for (int i = 0; i < length; ++i)
    {
        unsigned char reply[ProgramReplyLength];
        if (TargetPort.Read(reply, sizeof reply) != ProgramReplyLength)
        {
            return false;
        }
        if (reply[ProgramReplyLength - 1] != data[i])
        {
            printf("Program Error\n");
            return false;
        }
    }
    WarnOfSurplus("Prog More\n");
    return true;
}

bool VerifyBlock(int address, const unsigned char* expected, int length)
{
    if (!ReceiveBlock(address, VerifyBuffer, length) ||
        memcmp(VerifyBuffer, expected, static_cast<size_t>(length)) != 0)
    {
        return false;
    }
    WarnOfSurplus("Prog More\n");
    return true;
}

bool ReadBlock(int address, unsigned char* data, int length)
{
    if (!ReceiveBlock(address, data, length))
    {
        return false;
    }
    WarnOfSurplus("Read More \n");
    return true;
}
