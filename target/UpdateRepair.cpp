#include "target/UpdateRepair.h"

#include "base/Diagnostic.h"
#include "base/Stop.h"
#include "serial/ComPort.h"
#include "target/BlockLoop.h"
#include "target/JournalStore.h"
#include "target/LinkFrames.h"
#include "target/Progress.h"
#include "target/Recovery.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace
{

// As the update's own stages: the next block goes out while this one is checked.
const int LookAhead = 1;
const int AfterFailureGraceMs = 100;
// More journals than this left on one machine are named, not used.
const int MaxPendingJournals = 32;

char Folder[FolderPathCapacity];
// The journals of this board's chip that no update under way holds, and one of them read back.
char Pending[MaxPendingJournals][JournalPathCapacity];
int PendingCount = 0;
CUpdateJournal Loaded;

void NameUnfit(const char* path, const CUpdateJournal& journal)
{
    Warn("journal %s (written on COM%d, %d bytes at 0x%05X to put back) fits no board here; it "
         "stays for its own board",
         path, journal.Port, journal.KeepEnd - journal.KeepStart, journal.KeepStart);
}

struct CListing
{
    const CChipIdentity& Chip;
    int Extent;
};

// A journal whose lock is held belongs to an update under way, on another port.
void Consider(const char* path, void* context)
{
    CListing& listing = *static_cast<CListing*>(context);
    CJournalFile file;
    if (!ClaimJournal(path, file))
    {
        return;
    }
    const bool loaded = LoadJournal(path, Loaded);
    ReleaseJournal(file);
    if (!loaded)
    {
        Warn("%s is no journal this version can read; it is left alone", path);
    }
    else if (Loaded.Manufacturer != listing.Chip.Manufacturer ||
             Loaded.Device != listing.Chip.Device || PendingCount == MaxPendingJournals)
    {
        NameUnfit(path, Loaded);
    }
    else
    {
        snprintf(Pending[PendingCount++], JournalPathCapacity, "%s", path);
        listing.Extent = std::max(listing.Extent, JournalExtent(Loaded));
    }
}

// The kept bytes of journal where flash lost them, programmed and read back under a "Restore"
// line whose figure starts at done of total. restored: the bytes programmed.
bool PutBack(const CUpdateJournal& journal, const unsigned char* flash, unsigned char* work,
             int done, int total, int& restored)
{
    const CSpan keep = {journal.KeepStart, journal.KeepEnd};
    const int length = keep.End - keep.Start;
    memset(work, ErasedByte, ImageCapacity);
    restored = 0;
    for (int address = keep.Start; address < keep.End; ++address)
    {
        work[address] =
            flash[address] == journal.Before[address] ? ErasedByte : journal.Before[address];
        restored += work[address] != ErasedByte ? 1 : 0;
    }
    const CCyclesAround bypass = {&EnterBypass, &LeaveBypass};
    if (restored > 0 && !RunBlocks(ProgramChangesTransaction, LookAhead, bypass,
                                   {work, &keep, 1, false, done, total, false}))
    {
        ShowStageFailed();
        LeaveBypassAfterFailure();
        return false;
    }
    if (!RunBlocks(VerifyTransaction, LookAhead, NoCycles,
                   {journal.Before, &keep, 1, false, done + length, total, true}))
    {
        ShowStageFailed();
        return false;
    }
    return true;
}

// Its board holds the journal's bytes: it is no longer needed.
void Drop(const char* path)
{
    CJournalFile file;
    if (ClaimJournal(path, file))
    {
        RemoveJournal(file);
        Warn("journal %s is no longer needed: the board holds its bytes; removed", path);
    }
}

} // namespace

int ListPendingJournals(const CChipIdentity& chip)
{
    PendingCount = 0;
    CListing listing = {chip, 0};
    if (FindJournalFolder(Folder))
    {
        ListJournals(Folder, Consider, &listing);
    }
    return listing.Extent;
}

bool RepairFromJournals(CBoardRun& run, unsigned char* flash, unsigned char* before,
                        unsigned char* work)
{
    memcpy(before, flash, ImageCapacity);
    int fitting = -1;
    for (int i = 0; i < PendingCount; ++i)
    {
        if (!LoadJournal(Pending[i], Loaded))
        {
            continue;
        }
        const EJournalFit fit = FitJournal(Loaded, run.Chip.Manufacturer, run.Chip.Device, flash);
        if (fit == JournalToRestore && fitting >= 0)
        {
            Diagnose("journals %s and %s both fit this board, so neither is used: remove the one "
                     "that is not this board's, then update it again",
                     Pending[fitting], Pending[i]);
            return false;
        }
        fitting = fit == JournalToRestore ? i : fitting;
        if (fit == JournalOtherBoard)
        {
            NameUnfit(Pending[i], Loaded);
        }
        else if (fit == JournalNothingLost)
        {
            Drop(Pending[i]);
        }
    }
    CJournalFile file;
    // Another port's update may have taken it meanwhile: then it is that board's.
    if (fitting < 0 || !ClaimJournal(Pending[fitting], file) ||
        !LoadJournal(Pending[fitting], Loaded))
    {
        ReleaseJournal(file);
        return true;
    }
    int restored = 0;
    const int length = Loaded.KeepEnd - Loaded.KeepStart;
    ShowStage("Restore");
    if (!PutBack(Loaded, flash, work, 0, 2 * length, restored))
    {
        ReleaseJournal(file);
        return false;
    }
    RemoveJournal(file);
    Warn("put back %d bytes at 0x%05X-0x%05X that an update cut short had erased, from journal %s",
         restored, Loaded.KeepStart, Loaded.KeepEnd - 1, Pending[fitting]);
    run.RestoredBytes += restored;
    for (int s = 0; s < Loaded.SectorCount; ++s)
    {
        const CJournalSector& sector = Loaded.Sectors[s];
        memcpy(before + sector.Start, Loaded.Before + sector.Start,
               static_cast<size_t>(sector.End - sector.Start));
    }
    memcpy(flash + Loaded.KeepStart, Loaded.Before + Loaded.KeepStart, static_cast<size_t>(length));
    return true;
}

bool KeepOwnJournal(CBoardRun& run, const CUpdateJournal& journal)
{
    if (!FindJournalFolder(Folder) || !WriteJournal(Folder, journal, run.Journal))
    {
        Diagnose("cannot keep the update's journal in %s: %s; nothing has been erased", Folder,
                 strerror(errno));
        return false;
    }
    run.JournalKept = true;
    return true;
}

void DropOwnJournal(CBoardRun& run)
{
    if (run.JournalKept)
    {
        RemoveJournal(run.Journal);
        run.JournalKept = false;
    }
}

void PutBackOwnJournal(CBoardRun& run, const CUpdateJournal& journal, unsigned char* work)
{
    if (!run.JournalKept)
    {
        return;
    }
    run.JournalKept = false;
    // What goes wrong here is told, but the run's reason stays the failure before it.
    static CRunNotes aside;
    KeepNotesIn(&aside);
    FinishDespiteStop(true);
    // Replies of what the failure left unread must not pass for those of the restore.
    AwaitQuietLine(AfterFailureGraceMs);
    TargetPort.PurgeInput();
    const CSpan keep = {journal.KeepStart, journal.KeepEnd};
    const int length = keep.End - keep.Start;
    // A board that has gone with its adapter gets them from the next update.
    const bool gone = TargetPort.Gone();
    if (!gone)
    {
        ShowStage("Restore");
    }
    const bool read = !gone && AwaitChipIdle() &&
                      RunBlocks(ReadIntoFlashCopy, LookAhead, NoCycles,
                                {FlashCopy, &keep, 1, false, 0, 3 * length, false});
    if (!gone && !read)
    {
        ShowStageFailed();
    }
    int restored = 0;
    const bool back = read && PutBack(journal, FlashCopy, work, length, 3 * length, restored);
    FinishDespiteStop(false);
    KeepNotesIn(&run.Notes);
    if (!back)
    {
        Warn("the %d bytes kept from the board at 0x%05X could not be put back: the next --update "
             "of it puts them back from journal %s",
             length, keep.Start, run.Journal.Path);
        ReleaseJournal(run.Journal);
        return;
    }
    RemoveJournal(run.Journal);
    run.RestoredBytes += restored;
    if (restored > 0)
    {
        Warn("put back the %d bytes kept from the board at 0x%05X-0x%05X", restored, keep.Start,
             keep.End - 1);
    }
}
