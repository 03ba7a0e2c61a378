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
