#pragma once

#include "board/BoardChips.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <vector>

// A 128 KiB AMD-style NOR flash in 8-bit mode, by default an Am29F010B, driven only through bus
// cycles. The part (its codes, sector map and whether it knows unlock bypass) comes from the
// board's chip table. Every address is reduced to the array with address & FlashAddressMask,
// so the upper lines of a 24-bit bus are don't-care, as on a board that leaves them unconnected.
// Command cycles compare only the low 11 address bits with 0x555 / 0x2AA, as the chip decodes
// them; the rest of the address is ignored there too.
const uint32_t FlashSize = 0x20000;
const uint32_t FlashAddressMask = FlashSize - 1;

// Status bits read while the embedded erase runs: DQ7 (data polling) reads 0 until the erase is
// done, DQ6 and DQ2 toggle with every read, DQ3 tells that the erase has begun.
const uint8_t FlashStatusToggle = 0x44;
const uint8_t FlashStatusEraseStarted = 0x08;

class CFlashChip
{
  public:
    // clock returns milliseconds from any fixed origin; the erase duration is measured with it.
    CFlashChip(std::function<int64_t()> clock, int64_t eraseMilliseconds);

    uint8_t Read(uint32_t address);
    void Write(uint32_t address, uint8_t data);

    // True while a chip erase is running. An erase that has reached its end completes here, so
    // the array reads erased from the first call after that moment.
    bool Busy();
    // While set, a chip erase never completes: status reads go on for ever.
    void SetEraseNeverEnds(bool never) { EraseNeverEnds = never; }
    // A weak cell: array reads of it return the stored byte with bit 0 inverted.
    void AddBadCell(uint32_t address) { BadCells.insert(address & FlashAddressMask); }
    // The part this chip is; its sectors all start unprotected.
    void SetPart(const CBoardChip& part);
    // Chip erase, sector erase and program leave a protected sector as it is.
    void Protect(int sector) { Protected.insert(sector); }
    // A board whose flash does not answer autoselect: the command is ignored.
    void SetNoAutoselect(bool none) { NoAutoselect = none; }
    // Fills the array from offset 0; the rest of the array reads 0xFF. Extra bytes are ignored.
    void Load(const uint8_t* data, size_t length);
    const std::vector<uint8_t>& Contents() const { return Array; }
    bool InBypassMode() const
    {
        return State == EState::Bypass || State == EState::BypassProgram ||
               State == EState::BypassReset;
    }

  private:
    enum class EState
    {
        ReadArray,
        Unlocked1,
        Unlocked2,
        EraseSetup,
        EraseUnlocked1,
        EraseUnlocked2,
        Program,
        Bypass,
        BypassProgram,
        BypassReset,
        Erasing,
        Autoselect,
    };

    void Program(uint32_t address, uint8_t data);
    void StartErase(int sector);
    void EraseSector(int sector);
    void EraseSetupCycle(uint32_t address, uint8_t data);
    void UnlockedCycle(uint32_t address, uint8_t data);
    uint8_t AutoselectRead(uint32_t address);
    int SectorOf(uint32_t address) const;
    static bool IsCommandAddress(uint32_t address, uint32_t command)
    {
        return (address & 0x7FF) == command;
    }

    std::function<int64_t()> Clock;
    int64_t EraseMilliseconds;
    int64_t EraseEnd = 0;
    // The sector being erased; -1 for the whole chip.
    int ErasingSector = -1;
    CBoardChip Part = DefaultBoardChip();
    std::set<int> Protected;
    bool NoAutoselect = false;
    bool EraseNeverEnds = false;
    bool ToggleBit = false;
    EState State = EState::ReadArray;
    std::vector<uint8_t> Array;
    std::set<uint32_t> BadCells;
};
