#pragma once

// The flash's command sequences (AMD-style, command addresses 0x555 and 0x2AA), as data: each
// is a list of write cycles that one loop sends (SendSequence in target/TargetLink.h).

struct BusCycle
{
    int Address;
    unsigned char Value;
};

struct CCommandSequence
{
    const BusCycle* Cycles;
    int Count;
};

extern const CCommandSequence ChipErase;
extern const CCommandSequence EnterBypass;
extern const CCommandSequence LeaveBypass;
// After Autoselect, reads give the codes and each sector's protection (0x01 at its start + 2)
// until ReadReset, one write of 0xF0, returns the chip to reading its array.
extern const CCommandSequence Autoselect;
extern const CCommandSequence ReadReset;
const int ManufacturerCodeAddress = 0x00;
const int DeviceCodeAddress = 0x01;
const int SectorProtectionOffset = 0x02;
const unsigned char SectorProtected = 0x01;
// A sector erase is SectorEraseUnlock, then SectorEraseCommand written to an address in the
// sector; its poll reads inside the sector.
extern const CCommandSequence SectorEraseUnlock;
const unsigned char SectorEraseCommand = 0x30;
// From any command state a run can leave the chip in, back to reading its array: a write of
// 0xFF completes an armed program without clearing a bit (and is no command), then the cycles
// that leave unlock bypass and the reset that ends autoselect.
extern const CCommandSequence ReturnToRead;
// The cycle that arms one unlock-bypass program, sent before every program frame.
extern const BusCycle BypassProgram;

// Erased NOR flash reads 0xFF; the erase is seen to have finished when address 0 does.
const unsigned char ErasedByte = 0xFF;
const int ErasePollAddress = 0;
