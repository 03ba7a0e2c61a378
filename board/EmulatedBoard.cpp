#include "board/EmulatedBoard.h"

#include "board/BoardClock.h"
#include "board/BoardFiles.h"

CEmulatedBoard::CEmulatedBoard(const CBoardOptions& options)
    : Options(options), Chip([] { return BoardNanoseconds() / NanosecondsPerMillisecond; },
                             options.EraseMilliseconds),
      FrameServer(Chip, Options)
{
}

bool CEmulatedBoard::Prepare()
{
    if (!Options.ImagePath.empty() && !LoadImageFile(Options.ImagePath, Chip))
    {
        return false;
    }
    for (uint32_t address : Options.BadCells)
    {
        Chip.AddBadCell(address);
    }
    Chip.SetEraseNeverEnds(Options.EraseNever);
    return true;
}
