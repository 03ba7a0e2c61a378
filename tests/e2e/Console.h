#pragma once

// What orbelt-dl prints, written out independently of the program, and helpers to run it.
#include "tests/support/Board.h"
#include "tests/support/Process.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

extern const std::string OkEnding; // banner and verdict of a successful run
extern const std::string NgEnding; // banner and verdict of a failed run
// The erase line when the chip reads erased at the first poll.
extern const std::string EraseOkAtFirstPoll;
extern const std::string ErrorMarker;

// A stage label, its percentages for an image of imageLength bytes, and the 100 line.
std::string StageLine(const std::string& label, int imageLength);
// The same stage cut short: label and the percentages up to and including block failedBlock.
std::string StageUpTo(const std::string& label, int imageLength, int failedBlock);

// Checks the start-up line ("Orbelt UART Download Utility.   Mmm dd yyyy hh:mm:ss\n\n") and
// returns what follows it; the time line "Time  m:ss\n" becomes "Time  <t>\n" with the seconds
// stored in *elapsed (-1 when there is no time line).
std::string ConsoleBody(const std::string& out, int* elapsed = nullptr);

// Plain image bytes that differ from block to block, and the same scrambled into an image file.
std::vector<uint8_t> PlainImage(size_t length, unsigned seed = 1);
bool WriteImageFile(const std::string& path, const std::vector<uint8_t>& plain);

// The flash contents a successful download of plain leaves: the image, the key pattern for the
// rest of its last 64-byte block, then erased bytes.
std::vector<uint8_t> FlashAfterDownload(const std::vector<uint8_t>& plain);

// Runs orbelt-dl with COM<port> mapped to device and stdin at end of file.
CProcessResult RunDownloader(const std::vector<std::string>& arguments, const std::string& device,
                             int port = 7, double timeoutSeconds = 60);
