#pragma once

// Host side of the target's byte protocol: 5-byte frames, one flash bus operation each.
enum TargetCommand : unsigned char
{
    CommandRead = 0x00,
    CommandWriteCycle = 0x80,
    CommandProgram = 0xC0,
};

struct TargetFrame
{
    unsigned char Bytes[5];
};

const int VerifyBufferSize = 2048;
extern unsigned char VerifyBuffer[VerifyBufferSize];

TargetFrame MakeTargetFrame(TargetCommand command, int address, unsigned char data);

bool ReadTargetByte(int address, unsigned char& value);
bool WriteTargetCycle(int address, unsigned char value);
bool ProgramBlock(int address, const unsigned char* data, int length);
bool VerifyBlock(int address, const unsigned char* expected, int length);

// For a run that ended early: a write cycle sent whatever a stop request says, its
// acknowledgement not read.
void SendCycleUnacknowledged(int address, unsigned char value);
// Lets the frames sent go out, then waits at most graceMs until count reply bytes are queued.
void AwaitReplies(int count, int graceMs);
