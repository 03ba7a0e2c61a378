#pragma once

// The one block loop: a block transaction over spans of addresses, block by block, the stage's
// figure drawn before each block.
#include "target/TargetLink.h"

const int BlockSize = 64;

// Command cycles that share the stream of a block loop (--stream): Before goes out ahead of
// the first block and its acknowledgements are checked before the first figure; After follows
// the last block at once and is checked after the 100 line. Every cycle brings one reply byte,
// so their replies are told apart from the blocks' by count.
struct CCyclesAround
{
    const CCommandSequence* Before;
    const CCommandSequence* After;
};

const CCyclesAround NoCycles = {nullptr, nullptr};

struct CSpan
{
    int Start;
    int End; // one past the last address
};

// What a loop works through: each span from its start in blocks, with the data of each address
// at Data + address. WholeBlocks: the last block of a span goes whole, past the span's end (a
// download programs and verifies the key bytes after the image); otherwise it ends with the
// span. The figure before a block is (FigureDone + the spans' bytes before it) * 100 /
// FigureTotal; EndsStage: the 100 line follows the last block.
struct CBlockWork
{
    const unsigned char* Data;
    const CSpan* Spans;
    int SpanCount;
    bool WholeBlocks;
    int FigureDone;
    int FigureTotal;
    bool EndsStage;
};

// With a look-ahead of 1 the frames of the next block go out while the replies of the current
// one are checked, so that the line never idles; a failure then leaves at most one block sent
// beyond it.
bool RunBlocks(const CBlockTransaction& transaction, int lookAhead, const CCyclesAround& around,
               const CBlockWork& work);
// A download's stage over image (ImageLength bytes, whole blocks).
bool RunImageBlocks(const unsigned char* image, const CBlockTransaction& transaction, int lookAhead,
                    const CCyclesAround& around);
