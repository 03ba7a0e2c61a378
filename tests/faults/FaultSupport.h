#pragma once

#include "tests/e2e/Console.h"
#include "tests/support/Board.h"
#include "tests/support/Files.h"
#include "tests/support/Process.h"

#include <string>
#include <vector>

const int FaultPort = 7;

// orbelt-dl with COM7 mapped to device and the given kind of stdin.
CProcessResult RunDownloaderWith(const std::vector<std::string>& arguments,
                                 const std::string& device, EStdin input,
                                 double timeoutSeconds = 30);
CProcessOptions DownloaderOptions(const std::string& device, int port = FaultPort);

// The frames of one whole download whose chip needed polls erase polls, written out from
// the protocol; flash is what the image puts into the chip.
std::vector<CBoardFrame> ExpectedDownloadFrames(const std::vector<uint8_t>& flash,
                                                size_t imageLength, int polls, bool verify);
// The number of erase polls a trace of one download shows (reads of address 0 after the
// six erase cycles).
int ErasePolls(const std::vector<CBoardFrame>& frames);

// The UUCP lock file of a device (/dev/pts/5 -> /run/lock/LCK..pts_5) and the text a lock
// of pid holds.
std::string LockFileOf(const std::string& device);
std::string LockText(pid_t pid);
// 1 while the device is in exclusive mode, 0 when not, -1 when it cannot be told.
int ExclusiveMode(const std::string& device);

// Waits until the file exists and is not empty.
bool WaitForFile(const std::string& path, double timeoutSeconds);
void SleepFor(double seconds);
