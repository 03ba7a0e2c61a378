#pragma once

#include "board/BoardOptions.h"
#include "board/FlashChip.h"
#include "board/FrameServer.h"

// One board on the line: its settings, its flash chip and its side of the frame protocol.
class CEmulatedBoard
{
  public:
    explicit CEmulatedBoard(const CBoardOptions& options);
    CEmulatedBoard(const CEmulatedBoard&) = delete;
    CEmulatedBoard& operator=(const CEmulatedBoard&) = delete;

    // Fills the flash from the image, if any, and gives the chip its faults. Logs why not.
    bool Prepare();
    const CBoardOptions& Settings() const { return Options; }
    CFlashChip& Flash() { return Chip; }
    CFrameServer& Server() { return FrameServer; }

  private:
    CBoardOptions Options;
    CFlashChip Chip;
    CFrameServer FrameServer;
};
