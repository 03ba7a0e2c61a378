#pragma once

#include "base/Diagnostic.h"
#include "image/Image.h"
#include "target/Identify.h"
#include "target/JournalStore.h"

#include <cstdint>

// Everything that belongs to one board's run, made fresh for each run (each board of a station):
// the stages fill it in, the console, the record and the station's status line read it. The run
// settings of the whole process stay in target/RunPlan.h.
struct CBoardRun
{
    // Where the run stopped and why; diagnostics note here while the run is on (KeepNotesIn).
    CRunNotes Notes;
    // A station's count of the board, from 1; 0 for a single run.
    int Board = 0;
    // When the run started: wall clock and monotonic milliseconds.
    long long StartWallMs = 0;
    long long StartMs = 0;
    // The board was brought to a known state before the run's first question to the chip.
    bool Recovered = false;
    // What the chip said to autoselect, once ChipRead.
    bool ChipRead = false;
    CChipIdentity Chip;
    // --skip-blank: the bytes of 0xFF the program stage left out.
    int SkippedBytes = 0;
    // --update: the sectors erased and the bytes programmed so far, and whether the board held
    // the image already.
    int SectorsErased = 0;
    int BytesProgrammed = 0;
    bool UpToDate = false;
    // --update: the journal of the bytes it must put back, while it holds one; the bytes put back
    // on the board from a journal (one an earlier update left, or its own after a failure).
    bool JournalKept = false;
    CJournalFile Journal;
    int RestoredBytes = 0;
    // The record could not be written: a station must not go on without records.
    bool RecordLost = false;
    // The plain image this board gets: the image buffer, or (--serial-at) a copy of it with the
    // board's serial number in it.
    unsigned char* Image = ImageBuffer;
    // --serial-at: the number taken for this board, once taken (it is used up then, whatever
    // becomes of the board).
    bool HasSerial = false;
    uint64_t Serial = 0;
    // The board held that number already, one the counter had handed out: it keeps it.
    bool SerialKept = false;
    // The counter could give the board no number: a station must not go on without numbers.
    bool NotNumbered = false;
};
