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
    std::fill(Array.begin(), Array.end(), 0xFF);
    State = EState::ReadArray;
    return false;
}

uint8_t CFlashChip::Read(uint32_t address)
{
    if (Busy())
    {
        ToggleBit = !ToggleBit;
        return FlashStatusEraseStarted | (ToggleBit ? FlashStatusToggle : 0);
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
    Array[address & FlashAddressMask] &= data;
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
        State = EState::ReadArray;
        if (IsCommandAddress(address, 0x555))
        {
            if (data == 0x80)
            {
                State = EState::EraseSetup;
            }
            else if (data == 0xA0)
            {
                State = EState::Program;
            }
            else if (data == 0x20)
            {
                State = EState::Bypass;
            }
        }
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
        if (IsCommandAddress(address, 0x555) && data == 0x10)
        {
            State = EState::Erasing;
            EraseEnd = Clock() + EraseMilliseconds;
        }
        else
        {
            State = EState::ReadArray;
        }
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
    case EState::Erasing:
        break;
    }
}

void CFlashChip::Load(const uint8_t* data, size_t length)
{
    std::fill(Array.begin(), Array.end(), 0xFF);
    std::copy(data, data + std::min<size_t>(length, FlashSize), Array.begin());
}
