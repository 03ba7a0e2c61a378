#include "board/FrameServer.h"

#include <cinttypes>
#include <cstdio>

// Past this many, unknown frames are only counted: a host sending noise must not flood the log.
static const uint64_t UnknownFramesLogged = 20;

CFrameServer::CFrameServer(CFlashChip& flash, const CBoardOptions& options)
    : Flash(flash), Options(options)
{
    for (uint32_t address : options.BadReads)
    {
        BadReads.insert(address & FlashAddressMask);
    }
}

void CFrameServer::Receive(uint8_t byte, std::vector<uint8_t>& reply)
{
    Frame[Filled++] = byte;
    if (Filled < FrameLength)
    {
        return;
    }
    Filled = 0;
    ++FrameCount;
    if (Options.StopAfterGiven && FrameCount > Options.StopAfter)
    {
        if (FrameCount == Options.StopAfter + 1)
        {
            std::fprintf(stderr, "orbelt-board: fault: frame %" PRIu64 " and later get no answer\n",
                         FrameCount);
        }
        return;
    }
    Serve(reply);
    const auto surplus = Options.Surplus.find(FrameCount);
    if (surplus != Options.Surplus.end())
    {
        std::fprintf(stderr,
                     "orbelt-board: fault: %" PRIu64 " surplus bytes after frame %" PRIu64 "\n",
                     surplus->second, FrameCount);
        reply.insert(reply.end(), surplus->second, SurplusByte);
    }
}

void CFrameServer::Serve(std::vector<uint8_t>& reply)
{
    const uint32_t address = Frame[1] | (Frame[2] << 8) | (Frame[3] << 16);
    const uint8_t data = Frame[4];
    switch (Frame[0])
    {
    case FrameRead:
    {
        uint8_t value = Flash.Read(address);
        if (BadReads.count(address & FlashAddressMask) != 0)
        {
            value ^= 0x01;
        }
        reply.push_back(value);
        break;
    }
    case FrameWriteCycle:
        Flash.Write(address, data);
        reply.push_back(Options.Ack);
        break;
    case FrameProgram:
        Flash.Write(address, data);
        reply.push_back(Options.Ack);
        if (++ProgramCount == Options.ShortProgram)
        {
            std::fprintf(stderr,
                         "orbelt-board: fault: program frame %" PRIu64 " (frame %" PRIu64
                         ") answered short\n",
                         ProgramCount, FrameCount);
        }
        else
        {
            reply.push_back(Flash.Read(address));
        }
        break;
    case FrameFiller:
        break;
    default:
        if (++UnknownCount <= UnknownFramesLogged)
        {
            std::fprintf(stderr,
                         "orbelt-board: frame %" PRIu64
                         ": unknown command 0x%02X %02X %02X %02X %02X ignored%s\n",
                         FrameCount, Frame[0], Frame[1], Frame[2], Frame[3], Frame[4],
                         UnknownCount == UnknownFramesLogged ? " (further ones not logged)" : "");
        }
        break;
    }
}
