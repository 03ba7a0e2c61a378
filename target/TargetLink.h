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
// A read-back of length bytes from address onward in two halves, for a block loop (see
// CBlockTransaction): the read frames (data is not used), then the replies stored into into.
bool SendReadFrames(int address, const unsigned char* data, int length);
bool ReceiveReadReplies(int address, unsigned char* into, int length, int bytesInFlight);

// A block transaction in its two halves, so that a stream of blocks can send the frames of the
// next block before the replies of the current one are checked. Send hands all frames of the
// block to the port in one write; Receive takes the replies in and checks them. bytesInFlight
// is how many reply bytes of later frames may already be queued: only bytes beyond those
// count as surplus.
struct CBlockTransaction
{
    bool (*Send)(int address, const unsigned char* data, int length);
    bool (*Receive)(int address, const unsigned char* data, int length, int bytesInFlight);
    int ReplyBytesPerDataByte;
};

extern const CBlockTransaction ProgramTransaction;
extern const CBlockTransaction VerifyTransaction;

// For a run that ended early: a write cycle sent whatever a stop request says, its
// acknowledgement not read.
void SendCycleUnacknowledged(int address, unsigned char value);
// Lets the frames sent go out, then waits at most graceMs until no more replies arrive, so
// that what is sent next meets none of them.
void AwaitQuietLine(int graceMs);
// Lets the frames sent go out, then waits at most graceMs until count reply bytes are queued.
void AwaitReplies(int count, int graceMs);
