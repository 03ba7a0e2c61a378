#pragma once

// An update's journals (target/JournalStore.h): those that updates cut short left on this
// machine, checked against the board being updated and their bytes put back, and the run's own,
// kept from before its first erase that loses bytes until they are back on the board.
#include "target/BoardRun.h"
#include "target/UpdateJournal.h"

// Before the board is read: names the journals that cannot be this board's (another chip), and
// returns how far the board must be read for the others; 0 when there are none.
int ListPendingJournals(const CChipIdentity& chip);
// Once flash holds the board that far: puts back the bytes of the journal the board fits,
// removes the journals whose bytes the board holds, names the others. before gets the board as
// it was before the update that was cut short (flash where none was), for its serial number;
// work is a buffer of ImageCapacity. False, with a diagnostic, when the update must not go on.
bool RepairFromJournals(CBoardRun& run, unsigned char* flash, unsigned char* before,
                        unsigned char* work);

// The run's own journal, written before its first erase that loses bytes: false, with a
// diagnostic, when it cannot be, and nothing may be erased then.
bool KeepOwnJournal(CBoardRun& run, const CUpdateJournal& journal);
// Its bytes have been verified on the board.
void DropOwnJournal(CBoardRun& run);
// After a failure or a stop request: the kept bytes are programmed back where the board lost them
// and verified, whatever the stop says, and the journal removed. It stays, for the next update,
// when the board has gone or they could not be put back.
void PutBackOwnJournal(CBoardRun& run, const CUpdateJournal& journal, unsigned char* work);
