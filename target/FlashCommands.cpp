#include "target/FlashCommands.h"

namespace
{

const BusCycle ChipEraseCycles[] = {
    {0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0x80}, {0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0x10},
};
const BusCycle EnterBypassCycles[] = {{0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0x20}};
// 0xF0, not 0x00: the reset that leaves unlock bypass.
const BusCycle LeaveBypassCycles[] = {{0x333, 0x90}, {0x333, 0xF0}};

const BusCycle AutoselectCycles[] = {{0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0x90}};
const BusCycle ReadResetCycles[] = {{0x555, 0xF0}};
const BusCycle ReturnToReadCycles[] = {{0x333, 0xFF}, {0x333, 0x90}, {0x333, 0xF0}, {0x555, 0xF0}};
const BusCycle SectorEraseUnlockCycles[] = {
    {0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0x80}, {0x555, 0xAA}, {0x2AA, 0x55},
};

template <int Count> CCommandSequence Sequence(const BusCycle (&cycles)[Count])
{
    return {cycles, Count};
}

} // namespace

const CCommandSequence ChipErase = Sequence(ChipEraseCycles);
const CCommandSequence EnterBypass = Sequence(EnterBypassCycles);
const CCommandSequence LeaveBypass = Sequence(LeaveBypassCycles);
const CCommandSequence Autoselect = Sequence(AutoselectCycles);
const CCommandSequence ReadReset = Sequence(ReadResetCycles);
const CCommandSequence ReturnToRead = Sequence(ReturnToReadCycles);
const CCommandSequence SectorEraseUnlock = Sequence(SectorEraseUnlockCycles);
const BusCycle BypassProgram = {0x333, 0xA0};
