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
// Back to reading the array from any command state but a running erase or unlock bypass.
extern const CCommandSequence ResetToRead;
// The cycle that arms one unlock-bypass program, sent before every program frame.
extern const BusCycle BypassProgram;

// Erased NOR flash reads 0xFF; the erase is seen to have finished when address 0 does.
const unsigned char ErasedByte = 0xFF;
const int ErasePollAddress = 0;
