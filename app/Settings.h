#pragma once

// Run settings: written by the argument walk before the download starts, then only read.
extern int VerifyMode; // 0 program, 1 program and verify, 2 verify only
extern int PortNumber; // COMn, 1 to 250

const int MinPortNumber = 1;
const int MaxPortNumber = 250;
