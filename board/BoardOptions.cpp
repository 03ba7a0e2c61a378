#include "board/BoardOptions.h"

#include "board/BoardCommands.h"
#include "board/BoardOptionValues.h"
#include "board/FlashChip.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iterator>

static const uint64_t MaxFrame = 0xFFFFFFFFFFFFull;
static const uint64_t MaxBaud = 4000000;
static const uint64_t MaxEraseMilliseconds = 3600000;
static const uint64_t MaxLatencyMilliseconds = 1000;
static const uint64_t MaxReturnMilliseconds = 3600000;

static const char* const UsageHead =
    "Usage: orbelt-board [options]\n"
    "Emulates the target board: a 128 KiB AMD-style NOR flash behind the 5-byte frame\n"
    "protocol, on a new pseudo-terminal whose path is the first line printed.\n"
    "\n";

static const char* const UsageTail =
    "\n"
    "Numbers are decimal or 0x hexadecimal. Frames are counted from 1 over all frames.\n"
    "Exit status: 0 after SIGTERM, SIGINT, --exit-on-close or --vanish-after (the dump and\n"
    "trace are written then), 2 for a bad command line or unusable image, 1 when the\n"
    "device cannot be set up.\n";

// Where the help text of a row starts; continuation lines are indented as far.
static const size_t HelpColumn = 23;

bool ParseBoardNumber(const std::string& text, uint64_t max, uint64_t& value)
{
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ')
    {
        return false;
    }
    int base = 10;
    const char* digits = text.c_str();
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    {
        base = 16;
        digits += 2;
    }
    if (*digits == '\0' || *digits == '-' || *digits == '+' || *digits == ' ')
    {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long long parsed = std::strtoull(digits, &end, base);
    if (errno != 0 || *end != '\0' || parsed > max)
    {
        return false;
    }
    value = parsed;
    return true;
}

namespace
{

// One option's value on its way into CBoardOptions, with the checks its kind of value needs.
class CArgument
{
  public:
    const std::string& Name;
    const std::string& Value;
    std::string& Error;

    bool Path(std::string& path) const
    {
        if (Value.empty())
        {
            Error = Name + " needs a non-empty path";
            return false;
        }
        path = Value;
        return true;
    }
    template <typename T> bool Number(uint64_t min, uint64_t max, T& field) const
    {
        uint64_t number = 0;
        if (!ParseNumberOption(Name, Value, min, max, number, Error))
        {
            return false;
        }
        field = static_cast<T>(number);
        return true;
    }
    bool Address(std::vector<uint32_t>& addresses) const
    {
        uint32_t address = 0;
        if (!Number(0, FlashSize - 1, address))
        {
            return false;
        }
        addresses.push_back(address);
        return true;
    }
};

enum class EGroup
{
    Run,   // set once for the whole run
    Board, // set for each board, by the command line and by the on command
    Fault, // set for each board too, and listed under "faults:" in the help
};

class CBoardOption
{
  public:
    const char* Name;
    // The other spelling; an option that has one is only ever a whole argument.
    const char* Short;
    // What the help calls the value; nullptr for an option without one.
    const char* Value;
    EGroup Group;
    // Lines separated by '\n'.
    const char* Help;
    bool (*Apply)(const CArgument& argument, CBoardOptions& options);
};

const CBoardOption OptionTable[] = {
    {"--image", nullptr, "FILE", EGroup::Board,
     "initial flash contents from offset 0 (default: all 0xFF)",
     [](const CArgument& a, CBoardOptions& o) { return a.Path(o.ImagePath); }},
    {"--dump", nullptr, "FILE", EGroup::Run,
     "write the 131072-byte array to FILE when the board exits",
     [](const CArgument& a, CBoardOptions& o) { return a.Path(o.DumpPath); }},
    {"--trace", nullptr, "FILE", EGroup::Run, "record every byte the host sent, raw",
     [](const CArgument& a, CBoardOptions& o) { return a.Path(o.TracePath); }},
    {"--link", nullptr, "PATH", EGroup::Run,
     "make PATH a symbolic link to the device (removed at exit);\n"
     "an existing PATH must be a dangling link",
     [](const CArgument& a, CBoardOptions& o) { return a.Path(o.LinkPath); }},
    {"--exit-on-close", nullptr, nullptr, EGroup::Run,
     "exit when the host closes the device after sending to it",
     [](const CArgument&, CBoardOptions& o)
     {
         o.ExitOnClose = true;
         return true;
     }},
    {"--baud", nullptr, "N", EGroup::Run, "pace both directions at N baud, 11 bit times a byte",
     [](const CArgument& a, CBoardOptions& o) { return a.Number(1, MaxBaud, o.Baud); }},
    {"--latency-ms", nullptr, "N", EGroup::Run,
     "a USB-serial adapter between board and host: replies reach the\n"
     "host in 62-byte packets, a partial one when N ms have passed\n"
     "since the adapter's last packet (default 0: no adapter)",
     [](const CArgument& a, CBoardOptions& o)
     { return a.Number(0, MaxLatencyMilliseconds, o.LatencyMilliseconds); }},
    {"--erase-ms", nullptr, "N", EGroup::Board,
     "chip erase duration in milliseconds (default 1500)",
     [](const CArgument& a, CBoardOptions& o)
     { return a.Number(0, MaxEraseMilliseconds, o.EraseMilliseconds); }},
    {"--ack", nullptr, "V", EGroup::Board, "acknowledgement byte (default 0x00)",
     [](const CArgument& a, CBoardOptions& o) { return a.Number(0, 0xFF, o.Ack); }},
    {"--chip", nullptr, "NAME", EGroup::Board,
     "the flash part, one of the chips below (default Am29F010B)",
     [](const CArgument& a, CBoardOptions& o) { return ParseChipName(a.Value, o, a.Error); }},
    {"--chip-id", nullptr, "MM:DD", EGroup::Board,
     "the part with these hexadecimal autoselect codes; codes of no\n"
     "chip below give an unknown part with the default sector map",
     [](const CArgument& a, CBoardOptions& o) { return ParseChipId(a.Value, o, a.Error); }},
    {"--protect", nullptr, "N[,N...]", EGroup::Board,
     "protect these sectors (numbered from 0 at address 0): no erase\n"
     "or program changes them (repeatable)",
     [](const CArgument& a, CBoardOptions& o) { return ParseProtect(a.Value, o, a.Error); }},
    {"--no-chip", nullptr, nullptr, EGroup::Board,
     "the flash ignores autoselect: its reads return the array",
     [](const CArgument&, CBoardOptions& o)
     {
         o.NoChip = true;
         return true;
     }},
    {"--stop-after", nullptr, "N", EGroup::Fault, "answer the first N frames, then answer nothing",
     [](const CArgument& a, CBoardOptions& o)
     {
         o.StopAfterGiven = true;
         return a.Number(0, MaxFrame, o.StopAfter);
     }},
    {"--vanish-after", nullptr, "N", EGroup::Fault, "after N frames remove the device and exit",
     [](const CArgument& a, CBoardOptions& o) { return a.Number(1, MaxFrame, o.VanishAfter); }},
    {"--return-after-ms", nullptr, "N", EGroup::Fault,
     "with --vanish-after: the device comes back N ms later as a new\n"
     "pseudo-terminal (its path printed as a new line), and the board\n"
     "goes on instead of exiting",
     [](const CArgument& a, CBoardOptions& o)
     { return a.Number(0, MaxReturnMilliseconds, o.ReturnAfterMilliseconds); }},
    {"--erase-never", nullptr, nullptr, EGroup::Fault, "the chip erase never completes",
     [](const CArgument&, CBoardOptions& o)
     {
         o.EraseNever = true;
         return true;
     }},
    {"--bad-cell", nullptr, "ADDR", EGroup::Fault,
     "reads of ADDR return bit 0 inverted (repeatable)",
     [](const CArgument& a, CBoardOptions& o) { return a.Address(o.BadCells); }},
    {"--bad-read", nullptr, "ADDR", EGroup::Fault,
     "read frames at ADDR return bit 0 inverted (repeatable)",
     [](const CArgument& a, CBoardOptions& o) { return a.Address(o.BadReads); }},
    {"--short-program", nullptr, "N", EGroup::Fault,
     "answer the N-th program frame with 1 byte instead of 2",
     [](const CArgument& a, CBoardOptions& o) { return a.Number(1, MaxFrame, o.ShortProgram); }},
    {"--surplus", nullptr, "N:COUNT", EGroup::Fault,
     "after answering frame N send COUNT extra 0xEE bytes (repeatable)",
     [](const CArgument& a, CBoardOptions& o) { return ParseSurplus(a.Value, o, a.Error); }},
    {"--help", "-h", nullptr, EGroup::Run, "print this help",
     [](const CArgument&, CBoardOptions& o)
     {
         o.Help = true;
         return true;
     }},
};

const CBoardOption* FindOption(bool (*matches)(const CBoardOption&, const std::string&),
                               const std::string& text)
{
    const auto found =
        std::find_if(std::begin(OptionTable), std::end(OptionTable),
                     [&](const CBoardOption& option) { return matches(option, text); });
    return found == std::end(OptionTable) ? nullptr : found;
}

const CBoardOption* FindWholeArgument(const std::string& argument)
{
    return FindOption(
        [](const CBoardOption& option, const std::string& text)
        { return option.Short != nullptr && (text == option.Short || text == option.Name); },
        argument);
}

const CBoardOption* FindLongOption(const std::string& name)
{
    return FindOption([](const CBoardOption& option, const std::string& text)
                      { return option.Short == nullptr && text == option.Name; },
                      name);
}

std::string HelpRow(const CBoardOption& option)
{
    std::string label = option.Name;
    if (option.Short != nullptr)
    {
        label = option.Short + (", " + label);
    }
    if (option.Value != nullptr)
    {
        label = label + " " + option.Value;
    }
    return FormatHelpRow(label, option.Help);
}

} // namespace

std::string FormatHelpRow(const std::string& label, const std::string& help)
{
    std::string row = "  " + label;
    row.append(std::max<size_t>(HelpColumn, row.size() + 1) - row.size(), ' ');
    for (const char letter : help)
    {
        row += letter;
        if (letter == '\n')
        {
            row.append(HelpColumn, ' ');
        }
    }
    return row + "\n";
}

std::string BoardUsage()
{
    std::string usage = UsageHead;
    bool faultsBegun = false;
    for (const CBoardOption& option : OptionTable)
    {
        if (option.Group == EGroup::Fault && !faultsBegun)
        {
            usage += "faults:\n";
            faultsBegun = true;
        }
        usage += HelpRow(option);
    }
    return usage + ChipRows() + "\n" + BoardCommandHelp() + UsageTail;
}

// The option an argument names; error says why none does.
static const CBoardOption* FindOption(const std::string& argument, std::string& error)
{
    const CBoardOption* whole = FindWholeArgument(argument);
    if (whole != nullptr)
    {
        return whole;
    }
    if (argument.size() < 3 || argument.compare(0, 2, "--") != 0)
    {
        error = "unexpected argument '" + argument + "'";
        return nullptr;
    }
    const std::string name = argument.substr(0, argument.find('='));
    const CBoardOption* option = FindLongOption(name);
    if (option == nullptr)
    {
        error = "unknown option '" + name + "'";
    }
    return option;
}

// The value of a long option: after '=', or the next argument (at then moves past it).
static bool TakeValue(const CBoardOption& option, const std::string& argument, int argc,
                      const char* const* argv, int& at, std::string& value, std::string& error)
{
    const size_t equals = argument.find('=');
    const std::string name = option.Name;
    if (option.Value == nullptr)
    {
        if (equals != std::string::npos)
        {
            error = name + " takes no value";
            return false;
        }
        return true;
    }
    if (equals != std::string::npos)
    {
        value = argument.substr(equals + 1);
        return true;
    }
    if (at + 1 < argc)
    {
        value = argv[++at];
        return true;
    }
    error = name + " needs a value";
    return false;
}

static bool InScope(const CBoardOption& option, bool oneBoard, std::string& error)
{
    if (oneBoard && option.Group == EGroup::Run)
    {
        error = std::string(option.Name) + " is set for the whole run, not for one board";
        return false;
    }
    return true;
}

static bool WalkOptions(int argc, const char* const* argv, bool oneBoard, CBoardOptions& options,
                        std::string& error)
{
    for (int at = 1; at < argc; ++at)
    {
        const std::string argument = argv[at];
        const CBoardOption* option = FindOption(argument, error);
        std::string value;
        if (option == nullptr || !InScope(*option, oneBoard, error) ||
            (option->Short == nullptr &&
             !TakeValue(*option, argument, argc, argv, at, value, error)))
        {
            return false;
        }
        const std::string name = option->Name;
        if (!option->Apply(CArgument{name, value, error}, options))
        {
            return false;
        }
    }
    return CheckProtect(options, error);
}

bool ParseBoardOptions(int argc, const char* const* argv, CBoardOptions& options,
                       std::string& error)
{
    return WalkOptions(argc, argv, false, options, error);
}

bool ParseOneBoardOptions(const std::vector<std::string>& words, CBoardOptions& options,
                          std::string& error)
{
    std::vector<const char*> argv{"on"};
    std::transform(words.begin(), words.end(), std::back_inserter(argv),
                   [](const std::string& word) { return word.c_str(); });
    return WalkOptions(static_cast<int>(argv.size()), argv.data(), true, options, error);
}
