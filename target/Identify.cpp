#include "target/Identify.h"

#include "base/ConsoleOut.h"
#include "serial/ComPort.h"
#include "target/FlashCommands.h"
#include "target/Recovery.h"
#include "target/TargetLink.h"

#include <cstdio>

namespace
{

const char* const NoChipAnswered = "no flash chip answered";
const char* const NoJedecCode = "no flash chip answered: the manufacturer code is no JEDEC code";
const char* const UnknownChip = "unknown chip";
const char* const Unsteady = "the codes read differently each time";

bool ReadCodes(unsigned char& manufacturer, unsigned char& device)
{
    return ReadTargetByte(ManufacturerCodeAddress, manufacturer) &&
           ReadTargetByte(DeviceCodeAddress, device);
}

// The codes twice: a frame reader out of step, or a surplus byte taken as a code, reads
// other bytes the second time, and a byte still queued after them is one too many.
bool ReadCodesTwice(CChipIdentity& identity, bool& steady)
{
    unsigned char manufacturer = 0;
    unsigned char device = 0;
    if (!ReadCodes(identity.Manufacturer, identity.Device) || !ReadCodes(manufacturer, device))
    {
        return false;
    }
    steady = manufacturer == identity.Manufacturer && device == identity.Device &&
             TargetPort.QueryStatus(0) == 0;
    return true;
}

bool ReadProtection(CChipIdentity& identity)
{
    CSector sector{};
    for (int index = 0; identity.Chip != nullptr && SectorAt(*identity.Chip, index, sector);
         ++index)
    {
        unsigned char value = 0;
        if (!ReadTargetByte(sector.Start + SectorProtectionOffset, value))
        {
            return false;
        }
        if (value == SectorProtected)
        {
            identity.ProtectedSectors |= uint32_t{1} << index;
        }
    }
    return true;
}

// JEDEC manufacturer codes carry odd parity in bit 7; 0x00 and 0xFF are what a bus without a
// chip reads.
bool IsJedecCode(unsigned char code)
{
    int ones = 0;
    for (unsigned char bits = code; bits != 0; bits &= static_cast<unsigned char>(bits - 1))
    {
        ++ones;
    }
    return code != 0x00 && code != 0xFF && ones % 2 == 1;
}

void Classify(CChipIdentity& identity, bool sameAsArray)
{
    const char* reason = nullptr;
    if (sameAsArray)
    {
        reason = NoChipAnswered;
    }
    else if (!IsJedecCode(identity.Manufacturer))
    {
        reason = NoJedecCode;
    }
    if (reason != nullptr)
    {
        identity.Outcome = EChipOutcome::NoChip;
        identity.Chip = nullptr;
        identity.ProtectedSectors = 0;
    }
    else if (identity.Chip == nullptr)
    {
        identity.Outcome = EChipOutcome::Unknown;
        reason = UnknownChip;
    }
    else
    {
        identity.Outcome = EChipOutcome::Known;
    }
    identity.Reason = reason;
}

// The value of a run that lost the board half way; the reset goes out all the same.
bool NoReply(CChipIdentity& identity, bool resetToSend)
{
    const CChipIdentity failed;
    identity.Outcome = failed.Outcome;
    identity.Chip = nullptr;
    identity.ProtectedSectors = 0;
    identity.Reason = failed.Reason;
    if (resetToSend)
    {
        SendSequenceAfterFailure(ReadReset);
    }
    return false;
}

// Where the text goes on after an snprintf at used that wanted added bytes, within size.
int Advance(int used, int size, int added)
{
    return added < 0 ? used : used + (added < size - used ? added : size - used - 1);
}

// Autoselect, its codes and protection, and the reset. False when the board stopped answering;
// steady tells whether the codes can be trusted.
bool AskChip(CChipIdentity& identity, bool& steady)
{
    identity = CChipIdentity();
    if (!SendSequence(Autoselect) || !ReadCodesTwice(identity, steady))
    {
        return NoReply(identity, true);
    }
    identity.Chip = FindChip(identity.Manufacturer, identity.Device);
    if (!ReadProtection(identity))
    {
        return NoReply(identity, true);
    }
    unsigned char manufacturer = 0;
    unsigned char device = 0;
    // A reset without acknowledgement has still gone out.
    if (!SendSequence(ReadReset) || !ReadCodes(manufacturer, device))
    {
        return NoReply(identity, false);
    }
    Classify(identity, manufacturer == identity.Manufacturer && device == identity.Device);
    return true;
}

} // namespace

bool IdentifyChip(CChipIdentity& identity)
{
    bool steady = false;
    if (AskChip(identity, steady) && !steady)
    {
        // Codes that do not add up come from the line, not the chip: asked once more, in step.
        RealignAfterFailure();
        if (SendSequence(ReturnToRead, 1) && AskChip(identity, steady) && !steady)
        {
            identity.Outcome = EChipOutcome::Unsteady;
            identity.Chip = nullptr;
            identity.ProtectedSectors = 0;
            identity.Reason = Unsteady;
        }
    }
    return identity.Outcome == EChipOutcome::Known;
}

bool IsSectorProtected(const CChipIdentity& identity, int index)
{
    return index >= 0 && index < MaxSectors && (identity.ProtectedSectors >> index & 1u) != 0;
}

const char* RefuseToFlash(const CChipIdentity& identity, int start, int length, CRefusal& refusal)
{
    if (identity.Outcome != EChipOutcome::Known || identity.Chip == nullptr)
    {
        return identity.Reason != nullptr ? identity.Reason : UnknownChip;
    }
    const CChip& chip = *identity.Chip;
    if (start + length > chip.Size)
    {
        std::snprintf(refusal.Text, sizeof refusal.Text, "the image is larger than the %s's %d KiB",
                      chip.Name, chip.Size / 1024);
        return refusal.Text;
    }
    if (!chip.TakesBypass)
    {
        std::snprintf(refusal.Text, sizeof refusal.Text,
                      "%s does not take the unlock-bypass commands", chip.Name);
        return refusal.Text;
    }
    CSector sector{};
    for (int index = 0; length > 0 && SectorAt(chip, index, sector); ++index)
    {
        const bool covered = sector.Start < start + length && start < sector.Start + sector.Size;
        if (covered && IsSectorProtected(identity, index))
        {
            std::snprintf(refusal.Text, sizeof refusal.Text,
                          "sector %d (0x%05X-0x%05X) is protected", index, sector.Start,
                          sector.Start + sector.Size - 1);
            return refusal.Text;
        }
    }
    return nullptr;
}

void FormatChipIdentity(const CChipIdentity& identity, char (&text)[ChipTextSize])
{
    const CChip* chip = identity.Chip;
    if (identity.Outcome != EChipOutcome::Known || chip == nullptr)
    {
        const bool codes = identity.Outcome == EChipOutcome::Unknown;
        std::snprintf(text, sizeof text,
                      codes ? "Chip      %s (manufacturer 0x%02X, device 0x%02X)\n"
                            : "Chip      %s\n",
                      identity.Reason, identity.Manufacturer, identity.Device);
        return;
    }
    int used = Advance(0, ChipTextSize,
                       std::snprintf(text, sizeof text,
                                     "Chip      %s (manufacturer 0x%02X, device 0x%02X), "
                                     "%d KiB, %d sectors\n",
                                     chip->Name, chip->Manufacturer, chip->Device,
                                     chip->Size / 1024, SectorCount(*chip)));
    CSector sector{};
    for (int index = 0; SectorAt(*chip, index, sector); ++index)
    {
        if (IsSectorProtected(identity, index))
        {
            used = Advance(used, ChipTextSize,
                           std::snprintf(text + used, ChipTextSize - used,
                                         "protected: sector %d (0x%05X-0x%05X)\n", index,
                                         sector.Start, sector.Start + sector.Size - 1));
        }
    }
    if (identity.ProtectedSectors == 0)
    {
        std::snprintf(text + used, ChipTextSize - used, "no sector protected\n");
    }
}

void PrintChipIdentity(const CChipIdentity& identity)
{
    char text[ChipTextSize];
    FormatChipIdentity(identity, text);
    ConsoleText("%s", text);
}
