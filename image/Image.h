#pragma once

#include <cstddef>

const int ImageCapacity = 0x20000;
const int ImageKeyLength = 32;

extern unsigned char ImageBuffer[ImageCapacity];
extern int ImageLength;
// The file held more than ImageCapacity bytes: only those are in the buffer.
extern bool ImageCutShort;
extern const unsigned char ImageKey[ImageKeyLength];

// XORs data with ImageKey, the key restarting every 32 bytes from data[0]. Scrambling and
// descrambling are the same operation.
void ApplyImageKey(unsigned char* data, size_t length);

// Reads up to ImageCapacity bytes of path into ImageBuffer and descrambles it. Prints
// "File not found\n" when the file cannot be opened or is a directory, "File read error\n"
// when reading fails and "Empty image file\n" when it has no bytes, and then returns false.
bool LoadImage(const char* path);
void DescrambleImage();

// Writes the first ImageLength bytes of ImageBuffer, scrambled, as the image file path, whole
// or not at all. PrepareSaveImage creates the file's temporary beside it first, so that a path
// that cannot be written is known before the bytes are there; SaveImage writes and puts it in
// place (preparing it first when that was not done); AbandonSaveImage gives it up. Both return
// false with a diagnostic when they cannot; nothing is left behind then.
bool PrepareSaveImage(const char* path);
bool SaveImage(const char* path);
void AbandonSaveImage();
