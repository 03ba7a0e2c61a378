#include "image/ImageOpen.h"

// Windows has no named pipes in its file system that a path to an image could name.
void NoteSlowOpen(const char*, const char*) {}

void EndSlowOpen() {}
