#include "target/Update.h"

#include "base/Diagnostic.h"
#include "image/Image.h"
#include "target/BlockLoop.h"
#include "target/Download.h"
#include "target/FlashCommands.h"
#include "target/Progress.h"
#include "target/TargetLink.h"
#include "target/UpdatePlan.h"
#include "target/UpdateRepair.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

bool (*NumberUpdatedBoard)(CBoardRun& run, const unsigned char* flash) = nullptr;

namespace
{

// The next block goes out while this one is checked, as with --stream.
const int LookAhead = 1;

// Made by the read stage of each run, carried out by the stages after it.
CUpdatePlan Plan;
unsigned char ProgramBuffer[ImageCapacity];
// What the update must be able to put back; the board as it was before an update cut short.
CUpdateJournal Journal;
unsigned char BoardBefore[ImageCapacity];
// The sectors written, each as far as it is written: programmed, then read back.
CSpan Written[MaxSectors];
int WrittenCount = 0;
int WrittenBytes = 0;

void ListWritten()
{
    WrittenCount = 0;
    WrittenBytes = 0;
    for (int s = 0; s < Plan.SectorCount; ++s)
    {
        const CSectorPlan& sector = Plan.Sectors[s];
        if (sector.Action == SectorInPlace || sector.Action == SectorErased)
        {
            Written[WrittenCount++] = {sector.Start, sector.End};
            WrittenBytes += sector.End - sector.Start;
        }
    }
}

// The plan's sectors as the journal holds them, with what the board held there. The kept bytes
// must be in FlashCopy, the image not yet.
void StartJournal(const CBoardRun& run)
{
    Journal.Manufacturer = run.Chip.Manufacturer;
    Journal.Device = run.Chip.Device;
    Journal.Port = PortNumber;
    Journal.KeepStart = Plan.KeepStart;
    Journal.KeepEnd = Plan.KeepEnd;
    Journal.SectorCount = 0;
    for (int s = 0; s < Plan.SectorCount && Plan.Sectors[s].Start < ImageLength; ++s)
    {
        const CSectorPlan& sector = Plan.Sectors[s];
        const EJournalSector action = sector.Action == SectorErased    ? JournalErased
                                      : sector.Action == SectorInPlace ? JournalInPlace
                                                                       : JournalKept;
        Journal.Sectors[Journal.SectorCount++] = {action, sector.Start, sector.End};
    }
    memcpy(Journal.Before, FlashCopy, sizeof Journal.Before);
}

// The image's bytes, then, when the sector that holds its end is to be erased, that sector's
// bytes past the image, which it must keep. The figure counts them as if they were read. The
// journals that updates cut short left for this chip need more read: the whole of the image's
// last sector and as far as they reach, in one pass, before they are put back. The guard before
// has found a chip that may take the image.
bool ReadAndCompare(CBoardRun& run)
{
    const CChip& chip = *run.Chip.Chip;
    CSector last = {};
    if (!SectorOf(chip, ImageLength - 1, last))
    {
        Diagnose("the image of %d bytes is larger than the %s", ImageLength, chip.Name);
        return false;
    }
    const int extent = ListPendingJournals(run.Chip);
    BeginStage("Read");
    const int sectorEnd = last.Start + last.Size;
    const int readEnd = extent > 0 ? std::max(sectorEnd, extent) : ImageLength;
    const CSpan read = {0, readEnd};
    const int total = std::max(sectorEnd, readEnd);
    if (!RunBlocks(ReadIntoFlashCopy, LookAhead, NoCycles,
                   {FlashCopy, &read, 1, false, 0, total, extent > 0}) ||
        (extent > 0 && !RepairFromJournals(run, FlashCopy, BoardBefore, ProgramBuffer)) ||
        (NumberUpdatedBoard != nullptr &&
         !NumberUpdatedBoard(run, extent > 0 ? BoardBefore : FlashCopy)) ||
        !PlanUpdate(chip, FlashCopy, run.Image, ImageLength, Plan))
    {
        return false;
    }
    const CSpan kept = {std::max(Plan.KeepStart, readEnd), Plan.KeepEnd};
    if (extent == 0 && !RunBlocks(ReadIntoFlashCopy, LookAhead, NoCycles,
                                  {FlashCopy, &kept, kept.End > kept.Start ? 1 : 0, false,
                                   ImageLength, total, true}))
    {
        return false;
    }
    StartJournal(run);
    FillProgram(Plan, FlashCopy, run.Image, ImageLength, ProgramBuffer);
    // From here on the copy holds what the sectors written must read back.
    memcpy(FlashCopy, run.Image, static_cast<size_t>(ImageLength));
    memcpy(Journal.After, FlashCopy, sizeof Journal.After);
    ListWritten();
    run.UpToDate = WrittenCount == 0;
    if (run.HasSerial)
    {
        ShowSerialNumber(run.Serial);
    }
    return true;
}

// The sector-erase sequence ends with its command written into the sector; the first poll, at
// the sector's start, goes out right behind it.
bool EraseSector(int index, const CSectorPlan& sector)
{
    BusCycle cycles[MaxSequenceCycles];
    memcpy(cycles, SectorEraseUnlock.Cycles, SectorEraseUnlock.Count * sizeof cycles[0]);
    cycles[SectorEraseUnlock.Count] = {sector.Start, SectorEraseCommand};
    const CCommandSequence erase = {cycles, SectorEraseUnlock.Count + 1};
    char naming[48];
    snprintf(naming, sizeof naming, "the erase of sector %d", index);
    const CEraseWatch watch = {sector.Start, true, true, false, naming};
    if (!SendSequenceFrames(erase) || !SendTargetRead(sector.Start) ||
        !ReceiveSequenceReplies(erase, 1))
    {
        return false;
    }
    const EEraseWait wait = AwaitErased(StreamPolls, watch);
    if (wait == EraseNotStarted)
    {
        Diagnose("%s did not start", naming);
    }
    return wait == EraseDone;
}

// The label counts the sectors erased of the chip's: it must leave the figure its five places.
bool EraseSectors(CBoardRun& run)
{
    if (Plan.SectorsErased == 0)
    {
        return true;
    }
    char label[16];
    snprintf(label, sizeof label, "Erase %d of %d", Plan.SectorsErased, Plan.SectorCount);
    EnterStage("Erase");
    ShowStage(label);
    // Nothing that loses bytes past the image is erased before they are kept on the disk.
    if (Plan.KeepEnd > Plan.KeepStart && !KeepOwnJournal(run, Journal))
    {
        return false;
    }
    for (int s = 0; s < Plan.SectorCount; ++s)
    {
        if (Plan.Sectors[s].Action != SectorErased)
        {
            continue;
        }
        ShowBlock(run.SectorsErased, Plan.SectorsErased);
        if (!EraseSector(s, Plan.Sectors[s]))
        {
            return false;
        }
        ++run.SectorsErased;
    }
    ShowStageDone();
    return true;
}

bool ProgramChanges(CBoardRun& run)
{
    if (Plan.BytesProgrammed == 0)
    {
        return true;
    }
    BeginStage("Program");
    const CCyclesAround bypass = {&EnterBypass, &LeaveBypass};
    if (!RunBlocks(ProgramChangesTransaction, LookAhead, bypass,
                   {ProgramBuffer, Written, WrittenCount, false, 0, WrittenBytes, true}))
    {
        return false;
    }
    run.BytesProgrammed = Plan.BytesProgrammed;
    return true;
}

// The kept bytes are among those read back: then their journal has done its work.
bool VerifyWritten(CBoardRun& run)
{
    if (WrittenCount == 0)
    {
        return true;
    }
    BeginStage("Verify");
    if (!RunBlocks(VerifyTransaction, LookAhead, NoCycles,
                   {FlashCopy, Written, WrittenCount, false, 0, WrittenBytes, true}))
    {
        return false;
    }
    DropOwnJournal(run);
    return true;
}

} // namespace

bool RunUpdateStage(EStage stage, CBoardRun& run)
{
    switch (stage)
    {
    case StageUpdateRead:
        return ReadAndCompare(run);
    case StageSectorErase:
        return EraseSectors(run);
    case StageUpdateProgram:
        return ProgramChanges(run);
    case StageUpdateVerify:
        return VerifyWritten(run);
    default:
        return false;
    }
}

void PutBackAfterFailure(CBoardRun& run)
{
    PutBackOwnJournal(run, Journal, ProgramBuffer);
}
