#pragma once

// The journals of updates under way or cut short, each a file NAME.journal in the journal folder
// beside NAME.lock: the run that wrote a journal holds that lock until the journal's bytes are
// back on its board, so a journal whose lock is free is one a run left behind. Each function
// returns false with errno set when it fails.
#include "image/Folders.h"
#include "target/UpdateJournal.h"

const int JournalPathCapacity = FolderPathCapacity + 64;

struct CJournalFile
{
    char Path[JournalPathCapacity] = "";
    char LockPath[JournalPathCapacity] = "";
    CFileLock Lock;
};

// --journal-dir DIR, else the user's state folder (image/Folders.h); made when it is missing.
bool FindJournalFolder(char (&folder)[FolderPathCapacity]);
// The journal in a new file of folder, written whole and durably, its lock held.
bool WriteJournal(const char* folder, const CUpdateJournal& journal, CJournalFile& file);
// This run takes the journal at path for itself: false, errno EWOULDBLOCK, while another run
// holds it.
bool ClaimJournal(const char* path, CJournalFile& file);
// The journal file goes, then its lock; the claim ends.
void RemoveJournal(CJournalFile& file);
// The claim ends, the journal stays.
void ReleaseJournal(CJournalFile& file);
// False too for a file that is no journal.
bool LoadJournal(const char* path, CUpdateJournal& journal);
// Calls visit with the path of each journal in folder.
bool ListJournals(const char* folder, void (*visit)(const char* path, void* context),
                  void* context);
