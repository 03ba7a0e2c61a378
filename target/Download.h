#pragma once

const int BlockSize = 64;
const int ErasePollLimit = 35;
const int ErasePollPauseMs = 1000;
const int StreamPollPauseMs = 100;

// Opens TargetPort, then erases, programs and (with VerifyMode 1) verifies the image, or
// only verifies it (VerifyMode 2). Returns true when every stage succeeded.
bool RunDownload();
// Reads the first ReadSize bytes of the flash into ImageBuffer (ImageLength = ReadSize) under
// the stage label "Read"; the caller saves them.
bool RunReadBack();
// Erases the chip and waits for it as a download does, then prints the time line.
bool RunErase();
bool VerifyOnly();
bool EraseChip();
