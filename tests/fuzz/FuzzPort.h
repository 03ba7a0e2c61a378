#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The stand-in TargetPort of the fuzz targets: Read hands out the reply bytes given here in
// order, as a board would have sent them; every frame written is recorded.

struct FuzzFrame
{
    unsigned char Bytes[5];
};

void ResetFuzzPort(const uint8_t* replies, size_t length, bool opens);
void ClearFuzzFrames();
size_t FuzzRepliesLeft();
const std::vector<FuzzFrame>& FuzzFramesWritten();
// The bytes outside whole frames written to realign the board's frame reader: the four bytes of
// 0xFF and the single zero bytes.
size_t FuzzRealignBytesWritten();
bool FuzzPortIsOpen();
