#pragma once

// The run settings, written by the argument walk before the run starts and only read after
// it, and the table of what each mode of running does.

extern int VerifyMode;  // 0: program only, 1: program then verify (-v), 2: verify only (-vo)
extern int PortNumber;  // COMn, 1 to 250
extern bool StreamMode; // --stream: the next block goes out while this one is checked
extern bool SkipBlank;  // --skip-blank: the program stage sends nothing for a byte of 0xFF
extern int ReadSize;    // --read: bytes from address 0
// --journal-dir: where an update keeps the bytes it must put back; nullptr: the user's own.
extern const char* JournalFolderOption;

const int ProgramOnly = 0;
const int ProgramAndVerify = 1;
const int VerifyWithoutProgramming = 2;

const int MinPortNumber = 1;
const int MaxPortNumber = 250;
const int MaxReadSize = 0x20000; // the whole flash, as much as an image can hold

enum EStage
{
    NoStage,       // the end of a shorter list of stages
    StageErase,    // the chip erase and its poll
    StageProgram,  // the image in unlock-bypass mode
    StageVerify,   // the flash compared with the image
    StageRead,     // the flash read into the image buffer
    StageIdentify, // the chip's codes and protected sectors, told on the console
    StageGuard,    // the same, and the board refused when the image may not go into its chip
    // --update: the image's bytes read and compared; the sectors that must be erased; the bytes
    // that change; the sectors written, read back.
    StageUpdateRead,
    StageSectorErase,
    StageUpdateProgram,
    StageUpdateVerify,
};

const int MaxStages = 5;

struct CRunMode
{
    const char* Name;    // as the run record names it
    const char* Verdict; // the last line of a run that succeeded, before any key prompt
    EStage Stages[MaxStages];
    bool ShowsTime; // the time line follows the stages
    bool LoadsImage;
    // The verdict of a run that found nothing to change; nullptr: the same as Verdict.
    const char* Unchanged = nullptr;
};

extern const CRunMode ProgramRun;
extern const CRunMode ProgramVerifyRun;
extern const CRunMode VerifyRun;
extern const CRunMode ReadRun;
extern const CRunMode EraseRun;
extern const CRunMode IdentifyRun;
extern const CRunMode UpdateRun;

// The mode of this run, decided once after the argument walk.
extern const CRunMode* RunMode;
// The download's mode for a VerifyMode value; guarded, the chip of each board is identified
// before its flash is touched (a station).
const CRunMode& DownloadMode(int verifyMode, bool guarded = false);
