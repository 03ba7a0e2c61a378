#include "board/FlashChip.h"

#include <algorithm>
#include <utility>

CFlashChip::CFlashChip(std::function<int64_t()> clock, int64_t eraseMilliseconds)
    : Clock(std::move(clock)), EraseMilliseconds(eraseMilliseconds), Array(FlashSize, 0xFF)
{
}

bool CFlashChip::Busy()
{
    if (State != EState::Erasing)
    {
        return false;
    }
    if (EraseNeverEnds || Clock() < EraseEnd)
    {
        return true;
    }
    if (ErasingSector >= 0)
    {
        EraseSector(ErasingSector);
    }
    else
    {
        for (int sector = 0; sector < BoardSectorCount(Part); ++sector)
        {
            EraseSector(sector);
        }
    }
    State = EState::ReadArray;
    return false;
}

void CFlashChip::SetPart(const CBoardChip& part)
{
    Part = part;
    Protected.clear();
}

int CFlashChip::SectorOf(uint32_t address) const
{
    uint32_t start = 0;
    uint32_t size = 0;
    return BoardSectorOf(Part, address & FlashAddressMask, start, size);
}

void CFlashChip::EraseSector(int sector)
{
    if (Protected.count(sector) != 0)
    {
        return;
    }
    uint32_t start = 0;
    uint32_t size = 0;
    for (uint32_t address = 0; address < FlashSize; address = start + size)
    {
        if (BoardSectorOf(Part, address, start, size) == sector)
        {
            std::fill_n(Array.begin() + start, size, 0xFF);
            return;
        }
    }
}

void CFlashChip::StartErase(int sector)
{
    ErasingSector = sector;
    State = EState::Erasing;
    EraseEnd = Clock() + EraseMilliseconds;
}

// Autoselect decodes A1 and A0 only: the codes, and the protection of the addressed sector.
uint8_t CFlashChip::AutoselectRead(uint32_t address)
{
    switch (address & 0x3)
    {
    case 0:
        return Part.Manufacturer;
    case 1:
        return Part.Device;
    case 2:
        return Protected.count(SectorOf(address)) != 0 ? 0x01 : 0x00;
    default:
        return 0x00;
    }
}

uint8_t CFlashChip::Read(uint32_t address)
{
    if (Busy())
    {
        ToggleBit = !ToggleBit;
        return FlashStatusEraseStarted | (ToggleBit ? FlashStatusToggle : 0);
    }
    if (State == EState::Autoselect)
    {
        return AutoselectRead(address);
    }
    address &= FlashAddressMask;
    uint8_t value = Array[address];
    if (BadCells.count(address) != 0)
    {
        value ^= 0x01;
    }
    return value;
}

void CFlashChip::Program(uint32_t address, uint8_t data)
{
    // Programming can only pull bits to 0; only an erase brings them back.
    if (Protected.count(SectorOf(address)) == 0)
    {
        Array[address & FlashAddressMask] &= data;
    }
}

void CFlashChip::Write(uint32_t address, uint8_t data)
{
    if (Busy())
    {
        return;
    }
    // A cycle that does not continue the sequence cancels it, which also makes 0xF0 a reset at
    // any point before the program cycle itself.
    switch (State)
    {
    case EState::ReadArray:
        if (IsCommandAddress(address, 0x555) && data == 0xAA)
        {
            State = EState::Unlocked1;
        }
        break;
    case EState::Unlocked1:
        State = IsCommandAddress(address, 0x2AA) && data == 0x55 ? EState::Unlocked2
                                                                 : EState::ReadArray;
        break;
    case EState::Unlocked2:
        UnlockedCycle(address, data);
        break;
    case EState::EraseSetup:
        State = IsCommandAddress(address, 0x555) && data == 0xAA ? EState::EraseUnlocked1
                                                                 : EState::ReadArray;
        break;
    case EState::EraseUnlocked1:
        State = IsCommandAddress(address, 0x2AA) && data == 0x55 ? EState::EraseUnlocked2
                                                                 : EState::ReadArray;
        break;
    case EState::EraseUnlocked2:
        EraseSetupCycle(address, data);
        break;
    case EState::Program:
        Program(address, data);
        State = EState::ReadArray;
        break;
    case EState::Bypass:
        // Only the bypass program and bypass reset commands exist in this mode; the chip
        // ignores everything else, a lone 0xF0 included.
        if (data == 0xA0)
        {
            State = EState::BypassProgram;
        }
        else if (data == 0x90)
        {
            State = EState::BypassReset;
        }
        break;
    case EState::BypassProgram:
        Program(address, data);
        State = EState::Bypass;
        break;
    case EState::BypassReset:
        State = data == 0x00 || data == 0xF0 ? EState::ReadArray : EState::Bypass;
        break;
    case EState::Autoselect:
        // Only the reset leaves autoselect; any address will do.
        if (data == 0xF0)
        {
            State = EState::ReadArray;
        }
        break;
    case EState::Erasing:
        break;
    }
}

// The third cycle of an unlocked command: it names the command.
void CFlashChip::UnlockedCycle(uint32_t address, uint8_t data)
{
    State = EState::ReadArray;
    if (!IsCommandAddress(address, 0x555))
    {
        return;
    }
    if (data == 0x80)
    {
        State = EState::EraseSetup;
    }
    else if (data == 0xA0)
    {
        State = EState::Program;
    }
    else if (data == 0x20 && Part.TakesBypass)
    {
        State = EState::Bypass;
    }
    else if (data == 0x90 && !NoAutoselect)
    {
        State = EState::Autoselect;
    }
}

// The sixth cycle of an erase: 0x10 at 0x555 erases the chip, 0x30 anywhere the sector there.
// A sector erase of a protected sector returns to reading the array at once.
void CFlashChip::EraseSetupCycle(uint32_t address, uint8_t data)
{
    State = EState::ReadArray;
    if (IsCommandAddress(address, 0x555) && data == 0x10)
    {
        StartErase(-1);
    }
    else if (data == 0x30 && Protected.count(SectorOf(address)) == 0)
    {
        StartErase(SectorOf(address));
    }
}

void CFlashChip::Load(const uint8_t* data, size_t length)
{
    std::fill(Array.begin(), Array.end(), 0xFF);
    std::copy(data, data + std::min<size_t>(length, FlashSize), Array.begin());
}
