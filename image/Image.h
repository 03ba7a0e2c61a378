#pragma once

#include <cstddef>

const int ImageCapacity = 0x20000;
const int ImageKeyLength = 32;

extern unsigned char ImageBuffer[ImageCapacity];
extern int ImageLength;
extern const unsigned char ImageKey[ImageKeyLength];

// XORs data with ImageKey, the key restarting every 32 bytes from data[0]. Scrambling and
// descrambling are the same operation.
void ApplyImageKey(unsigned char* data, size_t length);

// Reads up to ImageCapacity bytes of path into ImageBuffer and descrambles it. Prints
// "File not found\n" when the file cannot be opened or is a directory, "File read error\n"
// when reading fails and "Empty image file\n" when it has no bytes, and then returns false.
bool LoadImage(const char* path);
void DescrambleImage();
