#pragma once

#include "board/BoardOptions.h"

#include <cstddef>
#include <string>

enum class ECommand
{
    None, // a blank line
    Off,
    On,
    Dump,
    Vanish,
    Return,
};

// One line of standard input, read.
class CBoardCommand
{
  public:
    ECommand Kind = ECommand::None;
    // On: the new board's settings, the defaults but for the options given.
    CBoardOptions NewBoard;
    // Dump: the file to write.
    std::string Path;
};

// Words are separated by blanks. False, with error saying why, for a line that is no command.
bool ParseBoardCommand(const std::string& line, CBoardCommand& command, std::string& error);
// The section of the --help text on the commands.
std::string BoardCommandHelp();

const size_t MaxCommandLine = 4096;

// Cuts what arrives on standard input into lines, holding at most one line's worth.
class CCommandLines
{
  public:
    void Add(const char* bytes, size_t count);
    // The next complete line without its line feed; false when there is none yet. A line longer
    // than MaxCommandLine is given as overlong, and empty.
    bool Next(std::string& line, bool& overlong);

  private:
    std::string Pending;
    // The line under way has grown too long: the rest of it is dropped as it comes.
    bool Overlong = false;
};
