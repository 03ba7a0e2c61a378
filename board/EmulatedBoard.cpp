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
    ConfigureFlash(Chip, Options);
    return true;
}

void ConfigureFlash(CFlashChip& chip, const CBoardOptions& options)
{
    chip.SetPart(options.Chip);
    for (const int sector : options.Protect)
    {
        chip.Protect(sector);
    }
    chip.SetNoAutoselect(options.NoChip);
    for (uint32_t address : options.BadCells)
    {
        chip.AddBadCell(address);
    }
    chip.SetEraseNeverEnds(options.EraseNever);
}
