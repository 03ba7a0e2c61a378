#pragma once

// Run settings: written by the argument walk before the download starts, then only read.
extern int VerifyMode; // one of the three modes below
extern int PortNumber; // COMn, 1 to 250
// --stream: the next block's frames go out while the current block's replies are checked, and
// the erase poll asks every 100 ms.
extern bool StreamMode;

const int ProgramOnly = 0;
const int ProgramAndVerify = 1;         // -v
const int VerifyWithoutProgramming = 2; // -vo

const int MinPortNumber = 1;
const int MaxPortNumber = 250;

// What the run does: the download of an image, or one of the operator's other jobs.
extern int Operation;
const int OperationDownload = 0;
const int OperationRead = 1;  // --read FILE
const int OperationErase = 2; // --erase

extern const char* ReadPath;   // --read FILE, the image file to write; nullptr otherwise
extern int ReadSize;           // --size N, bytes from address 0
extern bool NoWait;            // --no-wait: no key wait, and the exit status tells the result
extern const char* ResultPath; // --result FILE, the run record's file; nullptr otherwise

const int MaxReadSize = 0x20000; // the whole flash, as much as an image can hold
