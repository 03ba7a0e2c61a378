#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <vector>

// A 128 KiB AMD-style NOR flash in 8-bit mode (an Am29F010 in all that matters here), driven
// only through bus cycles. Every address is reduced to the array with address & FlashAddressMask,
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
    };

    void Program(uint32_t address, uint8_t data);
    static bool IsCommandAddress(uint32_t address, uint32_t command)
    {
        return (address & 0x7FF) == command;
    }

    std::function<int64_t()> Clock;
    int64_t EraseMilliseconds;
    int64_t EraseEnd = 0;
    bool EraseNeverEnds = false;
    bool ToggleBit = false;
    EState State = EState::ReadArray;
    std::vector<uint8_t> Array;
    std::set<uint32_t> BadCells;
};
