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
// The single zero bytes written to realign the board's frame reader.
size_t FuzzZeroBytesWritten();
bool FuzzPortIsOpen();
