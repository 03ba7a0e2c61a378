#pragma once

// What opening an image needs of the platform, one source file per platform: a named pipe
// (FIFO) opens only once something writes it, which an operator must be told of.

// Before the open: once it has taken longer than a moment, standard error says that the run
// waits for path to be written, the diagnostic line as it is. Nothing where there are no such
// files.
void NoteSlowOpen(const char* path, const char* line);
// The open has returned.
void EndSlowOpen();
