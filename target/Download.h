#pragma once

const int BlockSize = 64;
const int ErasePollLimit = 35;
const int ErasePollPauseMs = 1000;
const int StreamPollPauseMs = 100;

// Opens TargetPort, then erases, programs and (with VerifyMode 1) verifies the image, or
// only verifies it (VerifyMode 2). Returns true when every stage succeeded.
bool RunDownload();
bool VerifyOnly();
bool EraseChip();
