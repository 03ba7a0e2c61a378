#pragma once

#include "board/BoardOptions.h"
#include "board/FlashChip.h"
#include "board/FrameServer.h"

// Gives the chip what the options say of it: its part, protection and faults.
void ConfigureFlash(CFlashChip& chip, const CBoardOptions& options);

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
    // The vanish fault is due and has not been carried out yet: it happens once a board.
    bool VanishPending() const { return FrameServer.VanishDue() && !Vanished; }
    void VanishDone() { Vanished = true; }

  private:
    CBoardOptions Options;
    CFlashChip Chip;
    CFrameServer FrameServer;
    bool Vanished = false;
};
