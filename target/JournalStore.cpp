#include "target/JournalStore.h"

#include "base/Clock.h"
#include "image/ReplacementFile.h"
#include "image/ReplacementFilePlatform.h"
#include "target/RunPlan.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace
{

const char* const JournalSuffix = ".journal";
const char* const LockSuffix = ".lock";

unsigned char JournalText[JournalTextCapacity];
CReplacementFile JournalReplacement;

// NAME.lock beside NAME.journal.
bool LockPathOf(const char* path, CJournalFile& file)
{
    const size_t length = strlen(path);
    const size_t stem = length - strlen(JournalSuffix);
    if (length <= strlen(JournalSuffix) || strcmp(path + stem, JournalSuffix) != 0 ||
        snprintf(file.Path, sizeof file.Path, "%s", path) >= static_cast<int>(sizeof file.Path) ||
        snprintf(file.LockPath, sizeof file.LockPath, "%.*s%s", static_cast<int>(stem), path,
                 LockSuffix) >= static_cast<int>(sizeof file.LockPath))
    {
        errno = ENAMETOOLONG;
        return false;
    }
    return true;
}

struct CListing
{
    const char* Folder;
    void (*Visit)(const char* path, void* context);
    void* Context;
};

void VisitName(const char* name, void* context)
{
    const CListing& listing = *static_cast<const CListing*>(context);
    char path[JournalPathCapacity];
    if (snprintf(path, sizeof path, "%s%c%s", listing.Folder, PathSeparator(), name) <
        static_cast<int>(sizeof path))
    {
        listing.Visit(path, listing.Context);
    }
}

} // namespace

bool FindJournalFolder(char (&folder)[FolderPathCapacity])
{
    if (JournalFolderOption != nullptr)
    {
        if (snprintf(folder, sizeof folder, "%s", JournalFolderOption) >=
            static_cast<int>(sizeof folder))
        {
            errno = ENAMETOOLONG;
            return false;
        }
    }
    else if (!UserStateFolder(folder))
    {
        return false;
    }
    return MakeFolders(folder);
}

bool WriteJournal(const char* folder, const CUpdateJournal& journal, CJournalFile& file)
{
    char path[JournalPathCapacity];
    snprintf(path, sizeof path, "%s%cupdate-%lld-%lu%s", folder, PathSeparator(),
             WallClockMilliseconds(), ProcessNumber(), JournalSuffix);
    const size_t length = FormatJournal(journal, JournalText, sizeof JournalText);
    if (length == 0)
    {
        errno = EOVERFLOW;
        return false;
    }
    if (!ClaimJournal(path, file))
    {
        return false;
    }
    if (OpenReplacement(JournalReplacement, path) &&
        WriteReplacement(JournalReplacement, JournalText, length) &&
        CommitReplacementDurably(JournalReplacement))
    {
        return true;
    }
    AbandonReplacement(JournalReplacement);
    const int error = JournalReplacement.Error;
    remove(file.LockPath);
    ReleaseJournal(file);
    errno = error;
    return false;
}

bool ClaimJournal(const char* path, CJournalFile& file)
{
    return LockPathOf(path, file) && LockFile(file.Lock, file.LockPath, false);
}

void RemoveJournal(CJournalFile& file)
{
    remove(file.Path);
    remove(file.LockPath);
    ReleaseJournal(file);
}

void ReleaseJournal(CJournalFile& file)
{
    UnlockFile(file.Lock);
}

bool LoadJournal(const char* path, CUpdateJournal& journal)
{
    FILE* in = fopen(path, "rb");
    if (in == nullptr)
    {
        return false;
    }
    const size_t length = fread(JournalText, 1, sizeof JournalText, in);
    const bool read = ferror(in) == 0 && feof(in) != 0;
    fclose(in);
    errno = EINVAL;
    return read && ParseJournal(JournalText, length, journal);
}

bool ListJournals(const char* folder, void (*visit)(const char* path, void* context), void* context)
{
    CListing listing = {folder, visit, context};
    return ListFolder(folder, JournalSuffix, VisitName, &listing);
}
