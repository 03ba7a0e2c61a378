#pragma once

#include "image/Image.h"
#include "target/FlashCommands.h"

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
// The halves of ReadTargetByte, so that a read can go out right behind the cycles before it.
bool SendTargetRead(int address);
bool ReceiveTargetByte(int address, unsigned char& value);
// Whether a board answers a read of address on the line within waitMs with one byte and no more:
// no diagnostic, no surplus warning, and replies still queued from before are dropped first, so
// that a late one never passes for this one's.
bool ProbeTarget(int address, int waitMs);
// length bytes of the flash from address, their read frames in one write.
bool ReadTargetBytes(int address, unsigned char* into, int length);
bool WriteTargetCycle(int address, unsigned char value);
bool ProgramBlock(int address, const unsigned char* data, int length);
bool VerifyBlock(int address, const unsigned char* expected, int length);
// A block transaction in its two halves, so that a stream of blocks can send the frames of the
// next block before the replies of the current one are checked. Send hands all frames of the
// block to the port in one write; Receive takes the replies in and checks them. bytesInFlight
// is how many reply bytes of later frames may already be queued: only bytes beyond those
// count as surplus.
struct CBlockTransaction
{
    bool (*Send)(int address, const unsigned char* data, int length);
    bool (*Receive)(int address, const unsigned char* data, int length, int bytesInFlight);
    // The reply bytes that the frames of a block of data bring.
    int (*ReplyBytes)(const unsigned char* data, int length);
};

// Programs a block in unlock-bypass mode; with --skip-blank its bytes of 0xFF are not sent.
extern const CBlockTransaction ProgramTransaction;
// The same, its bytes of 0xFF never sent: an update's program buffer has them where nothing is
// to be programmed.
extern const CBlockTransaction ProgramChangesTransaction;
// The bytes of 0xFF the program transaction has left out since the process started.
extern int SkippedBytesTotal;
extern const CBlockTransaction VerifyTransaction;
// Reads the flash into the image buffer at the block's own address (data is not used).
extern const CBlockTransaction ReadBackTransaction;
// The same into FlashCopy, where an update keeps the flash as it read it: the image buffer holds
// the new image.
extern unsigned char FlashCopy[ImageCapacity];
extern const CBlockTransaction ReadIntoFlashCopy;

// Sends the write cycles of a command sequence. With a look-ahead of 0 each cycle waits for its
// acknowledgement, and the cycles after one that gets none are not sent; with 1 (--stream) all
// go out in one write and their acknowledgements are checked together.
bool SendSequence(const CCommandSequence& sequence, int lookAhead = 0);
// The halves of a sequence sent with look-ahead, so that it can share a write with other frames:
// all cycles in one write, then their acknowledgements checked, bytesInFlight reply bytes of
// later frames perhaps queued behind them. A cycle without acknowledgement fails it as above,
// but the cycles after it have gone out.
const int MaxSequenceCycles = 8;
bool SendSequenceFrames(const CCommandSequence& sequence);
bool ReceiveSequenceReplies(const CCommandSequence& sequence, int bytesInFlight);
