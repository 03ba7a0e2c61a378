#include "target/BlockLoop.h"

#include "image/Image.h"
#include "target/Progress.h"

namespace
{

struct CBlock
{
    int Address;
    int Length;
    int Before; // the work's bytes before it, for the figure
};

// Block index of the work, counted over all its spans; false past the last.
bool BlockAt(const CBlockWork& work, int index, CBlock& block)
{
    int before = 0;
    for (int s = 0; s < work.SpanCount; ++s)
    {
        const CSpan& span = work.Spans[s];
        const int blocks = (span.End - span.Start + BlockSize - 1) / BlockSize;
        if (index < blocks)
        {
            block.Address = span.Start + index * BlockSize;
            const int left = span.End - block.Address;
            block.Length = work.WholeBlocks || left > BlockSize ? BlockSize : left;
            block.Before = before + index * BlockSize;
            return true;
        }
        index -= blocks;
        before += span.End - span.Start;
    }
    return false;
}

struct CBlockStream
{
    const CBlockTransaction& Transaction;
    const CCyclesAround& Around;
    const CBlockWork& Work;
    int Sent; // the blocks below this index have gone out
    bool AfterSent;
};

bool SendCycles(const CCommandSequence* sequence)
{
    return sequence == nullptr || SendSequenceFrames(*sequence);
}

bool ReceiveCycles(const CCommandSequence* sequence, int bytesInFlight)
{
    return sequence == nullptr || ReceiveSequenceReplies(*sequence, bytesInFlight);
}

// Sends the blocks up to index that have not gone out yet, and After once the last one has.
bool SendUpTo(CBlockStream& stream, int index)
{
    CBlock block = {};
    for (; stream.Sent <= index && BlockAt(stream.Work, stream.Sent, block); ++stream.Sent)
    {
        if (!stream.Transaction.Send(block.Address, stream.Work.Data + block.Address, block.Length))
        {
            return false;
        }
    }
    if (BlockAt(stream.Work, stream.Sent, block) || stream.AfterSent)
    {
        return true;
    }
    stream.AfterSent = true;
    return SendCycles(stream.Around.After);
}

// The reply bytes queued behind those of block index, from what has gone out.
int RepliesBehind(const CBlockStream& stream, int index)
{
    int bytes = stream.AfterSent && stream.Around.After != nullptr ? stream.Around.After->Count : 0;
    CBlock block = {};
    for (int later = index + 1; later < stream.Sent && BlockAt(stream.Work, later, block); ++later)
    {
        bytes += stream.Transaction.ReplyBytes(stream.Work.Data + block.Address, block.Length);
    }
    return bytes;
}

} // namespace

bool RunBlocks(const CBlockTransaction& transaction, int lookAhead, const CCyclesAround& around,
               const CBlockWork& work)
{
    CBlockStream stream = {transaction, around, work, 0, false};
    if (!SendCycles(around.Before) || !SendUpTo(stream, lookAhead - 1) ||
        !ReceiveCycles(around.Before, RepliesBehind(stream, -1)))
    {
        return false;
    }
    CBlock block = {};
    for (int index = 0; BlockAt(work, index, block); ++index)
    {
        ShowBlock(work.FigureDone + block.Before, work.FigureTotal);
        if (!SendUpTo(stream, index + lookAhead) ||
            !transaction.Receive(block.Address, work.Data + block.Address, block.Length,
                                 RepliesBehind(stream, index)))
        {
            return false;
        }
    }
    if (work.EndsStage)
    {
        ShowStageDone();
    }
    return ReceiveCycles(around.After, 0);
}

bool RunImageBlocks(const unsigned char* image, const CBlockTransaction& transaction, int lookAhead,
                    const CCyclesAround& around)
{
    const CSpan whole = {0, ImageLength};
    const CBlockWork work = {image, &whole, 1, true, 0, ImageLength, true};
    return RunBlocks(transaction, lookAhead, around, work);
}
