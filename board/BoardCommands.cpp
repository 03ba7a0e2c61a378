#include "board/BoardCommands.h"

#include <algorithm>
#include <iterator>
#include <vector>

namespace
{

class CCommandRow
{
  public:
    const char* Name;
    // What the help shows after the name; nullptr for a command without arguments.
    const char* Arguments;
    // Lines separated by '\n'.
    const char* Help;
    ECommand Kind;
};

const CCommandRow CommandTable[] = {
    {"off", nullptr, "take the board off the line: frames go unanswered", ECommand::Off},
    {"on", "[OPTIONS]",
     "put a new board on the line: blank, or --image FILE; --erase-ms,\n"
     "--ack, the chip options and the faults as given, the others at\n"
     "their defaults; its frames are counted from its first",
     ECommand::On},
    {"dump", "FILE", "write the flash of the board on the line (or last taken off) to FILE",
     ECommand::Dump},
    {"vanish", nullptr, "remove the device and the --link, as an adapter unplugged",
     ECommand::Vanish},
    {"return", nullptr,
     "bring the device back as a new pseudo-terminal at the --link;\n"
     "its path is printed as a new line",
     ECommand::Return},
};

std::vector<std::string> SplitWords(const std::string& line)
{
    std::vector<std::string> words;
    size_t at = 0;
    for (;;)
    {
        at = line.find_first_not_of(" \t\r", at);
        if (at == std::string::npos)
        {
            return words;
        }
        const size_t end = line.find_first_of(" \t\r", at);
        words.push_back(line.substr(at, end - at));
        at = end;
    }
}

std::string CommandNames()
{
    std::string names;
    for (const CCommandRow& row : CommandTable)
    {
        names += (names.empty() ? "" : ", ") + std::string(row.Name);
    }
    return names;
}

bool ParseArguments(const CCommandRow& row, const std::vector<std::string>& arguments,
                    CBoardCommand& command, std::string& error)
{
    if (row.Kind == ECommand::On)
    {
        return ParseOneBoardOptions(arguments, command.NewBoard, error);
    }
    const size_t wanted = row.Arguments == nullptr ? 0 : 1;
    if (arguments.size() != wanted)
    {
        error = std::string(row.Name) +
                (wanted == 0 ? " takes no arguments"
                             : " takes one argument, " + std::string(row.Arguments));
        return false;
    }
    if (row.Kind == ECommand::Dump)
    {
        command.Path = arguments[0];
    }
    return true;
}

} // namespace

bool ParseBoardCommand(const std::string& line, CBoardCommand& command, std::string& error)
{
    command = CBoardCommand();
    const std::vector<std::string> words = SplitWords(line);
    if (words.empty())
    {
        return true;
    }
    const auto row =
        std::find_if(std::begin(CommandTable), std::end(CommandTable),
                     [&words](const CCommandRow& known) { return words[0] == known.Name; });
    if (row == std::end(CommandTable))
    {
        error = "unknown command '" + words[0] + "' (commands: " + CommandNames() + ")";
        return false;
    }
    command.Kind = row->Kind;
    return ParseArguments(*row, std::vector<std::string>(words.begin() + 1, words.end()), command,
                          error);
}

std::string BoardCommandHelp()
{
    std::string help =
        "Commands on standard input, one a line, each answered by a line on standard error:\n";
    for (const CCommandRow& row : CommandTable)
    {
        const std::string label =
            row.Name + (row.Arguments == nullptr ? "" : " " + std::string(row.Arguments));
        help += FormatHelpRow(label, row.Help);
    }
    return help + "The trace also records what the host sends while the board is off. At exit\n"
                  "--dump writes the flash that dump would write then.\n";
}

void CCommandLines::Add(const char* bytes, size_t count)
{
    Pending.append(bytes, count);
}

bool CCommandLines::Next(std::string& line, bool& overlong)
{
    const size_t end = Pending.find('\n');
    if (end == std::string::npos && Pending.size() > MaxCommandLine)
    {
        Pending.clear();
        Overlong = true;
    }
    if (end == std::string::npos)
    {
        return false;
    }
    overlong = Overlong || end > MaxCommandLine;
    line = overlong ? std::string() : Pending.substr(0, end);
    Pending.erase(0, end + 1);
    Overlong = false;
    return true;
}
