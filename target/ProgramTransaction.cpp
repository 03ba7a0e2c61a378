// The program block transaction: pairs of the bypass program cycle and a program frame,
// three reply bytes a pair, the third the byte read back.
#include "target/TargetLink.h"

#include "base/Diagnostic.h"
#include "serial/ComPort.h"
#include "target/LinkFrames.h"
#include "target/Progress.h"
#include "target/RunPlan.h"

#include <cstdio>

int SkippedBytesTotal = 0;

namespace
{

unsigned char ProgramReplies[MaxProgramLength * ProgramReplyLength];

// Programming can only clear bits: with --skip-blank a byte of 0xFF is left as the erase left
// it, and an update's program buffer holds 0xFF wherever nothing is to be programmed (Blanks).
// Sending, receiving and counting the replies all ask here.
template <bool Blanks> bool SendsPair(unsigned char value)
{
    return !(Blanks || SkipBlank) || value != ErasedByte;
}

// The bytes of a block that went out as program pairs, in order: their offsets in the block
// and their values.
int PairOffsets[MaxProgramLength];
unsigned char PairValues[MaxProgramLength];

template <bool Blanks> int CollectPairs(const unsigned char* data, int length)
{
    int pairs = 0;
    for (int i = 0; i < length; ++i)
    {
        if (SendsPair<Blanks>(data[i]))
        {
            PairOffsets[pairs] = i;
            PairValues[pairs++] = data[i];
        }
    }
    return pairs;
}

// All replies of a block wait in the receive queue until the last frame is out. A block with
// no byte to program sends nothing.
template <bool Blanks> bool SendProgramFrames(int address, const unsigned char* data, int length)
{
    if (length < 0 || length > MaxProgramLength || !MayStartFrame())
    {
        return false;
    }
    const int pairs = CollectPairs<Blanks>(data, length);
    unsigned char* frame = BlockFrames;
    for (int k = 0; k < pairs; ++k)
    {
        frame = PutFrame(frame, CommandWriteCycle, BypassProgram.Address, BypassProgram.Value);
        frame = PutFrame(frame, CommandProgram, address + PairOffsets[k], PairValues[k]);
    }
    if (pairs > 0)
    {
        TargetPort.Write(BlockFrames, pairs * 2 * TargetFrameLength);
    }
    SkippedBytesTotal += length - pairs;
    return true;
}

// How far the replies have slipped when the read-back byte of pair i (at at) is wrong: a reply
// short or surplus puts the bytes written at other places. The next pair tells, where its
// replies are in: it is off too, and its byte sits at the same shift. 0 when the replies are not
// visibly out of step (a weak cell, say).
int ReplyShift(int i, int pairs, int at, int received)
{
    const int shifts[] = {-1, 1, -2, 2};
    const int next = at + ProgramReplyLength;
    const bool nextIn = i + 1 < pairs && next + 2 < received;
    for (int shift : shifts)
    {
        const bool seen = nextIn ? ProgramReplies[next] != PairValues[i + 1] &&
                                       ProgramReplies[next + shift] == PairValues[i + 1]
                                 : at + shift > at - ProgramReplyLength && at + shift < received &&
                                       ProgramReplies[at + shift] == PairValues[i];
        if (seen)
        {
            return shift;
        }
    }
    return 0;
}

void DiagnoseProgramError(int address, int i, int pairs, int at, int received)
{
    const int shift = ReplyShift(i, pairs, at, received);
    const int slip = shift < 0 ? -shift : shift;
    char step[80] = "";
    if (shift != 0)
    {
        snprintf(step, sizeof step, "; the replies are out of step, %d %s", slip,
                 shift < 0 ? (slip == 1 ? "byte short" : "bytes short")
                           : (slip == 1 ? "surplus byte" : "surplus bytes"));
    }
    Diagnose("program error at 0x%06X: third reply byte 0x%02X, expected 0x%02X%s",
             address + PairOffsets[i], ProgramReplies[at], PairValues[i], step);
}

// Replies are taken in as they come, each checked at once. Every reply gets ReadTimeoutMs of
// its own, counted from when the one before it was complete, as if each were read alone.
template <bool Blanks>
bool ReceiveProgramReplies(int address, const unsigned char* data, int length, int bytesInFlight)
{
    if (length < 0 || length > MaxProgramLength)
    {
        return false;
    }
    const int pairs = CollectPairs<Blanks>(data, length);
    const int total = pairs * ProgramReplyLength;
    int received = 0;
    for (int i = 0; i < pairs; ++i)
    {
        const int end = (i + 1) * ProgramReplyLength;
        if (received < end)
        {
            received += TargetPort.ReadAvailable(ProgramReplies + received, end - received,
                                                 total - received);
            if (received < end)
            {
                DiagnoseMissingReply("program", address + PairOffsets[i],
                                     received - (end - ProgramReplyLength), ProgramReplyLength);
                return false;
            }
        }
        if (ProgramReplies[end - 1] != PairValues[i])
        {
            ShowMessage("Program Error\n");
            DiagnoseProgramError(address, i, pairs, end - 1, received);
            return false;
        }
    }
    WarnOfSurplus("Prog More\n", bytesInFlight);
    return true;
}

template <bool Blanks> int ProgramReplyBytes(const unsigned char* data, int length)
{
    int pairs = 0;
    for (int i = 0; i < length; ++i)
    {
        pairs += SendsPair<Blanks>(data[i]) ? 1 : 0;
    }
    return pairs * ProgramReplyLength;
}

} // namespace

bool ProgramBlock(int address, const unsigned char* data, int length)
{
    return SendProgramFrames<false>(address, data, length) &&
           ReceiveProgramReplies<false>(address, data, length, 0);
}

const CBlockTransaction ProgramTransaction = {
    SendProgramFrames<false>, ReceiveProgramReplies<false>, ProgramReplyBytes<false>};
const CBlockTransaction ProgramChangesTransaction = {
    SendProgramFrames<true>, ReceiveProgramReplies<true>, ProgramReplyBytes<true>};
