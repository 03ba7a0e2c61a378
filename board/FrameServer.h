#pragma once

#include "board/BoardOptions.h"
#include "board/FlashChip.h"

#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>

const size_t FrameLength = 5;
const uint8_t FrameRead = 0x00;
const uint8_t FrameWriteCycle = 0x80;
const uint8_t FrameProgram = 0xC0;
// The host's filler that completes a frame cut short: a frame of it is no command, and quietly
// carried out as nothing.
const uint8_t FrameFiller = 0xFF;
const uint8_t SurplusByte = 0xEE;

// The board's side of the 5-byte frame protocol, including the faults the options ask for.
// It sees the host's bytes one at a time, in whatever pieces they arrive.
class CFrameServer
{
  public:
    CFrameServer(CFlashChip& flash, const CBoardOptions& options);

    // Takes one byte of the host's stream. When it completes a frame, the frame is carried out
    // and its answer appended to reply.
    void Receive(uint8_t byte, std::vector<uint8_t>& reply);
    uint64_t Frames() const { return FrameCount; }
    // How many more bytes complete the frame under way: 1 to 5.
    size_t MissingBytes() const { return FrameLength - Filled; }
    // The frame after which the device is to vanish has been answered.
    bool VanishDue() const { return Options.VanishAfter != 0 && FrameCount >= Options.VanishAfter; }

  private:
    void Serve(std::vector<uint8_t>& reply);

    CFlashChip& Flash;
    const CBoardOptions& Options;
    std::set<uint32_t> BadReads;
    uint8_t Frame[FrameLength] = {};
    size_t Filled = 0;
    uint64_t FrameCount = 0;
    uint64_t ProgramCount = 0;
    uint64_t UnknownCount = 0;
};
