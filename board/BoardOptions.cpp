#include "board/BoardOptions.h"

#include "board/FlashChip.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iterator>

static const uint64_t MaxFrame = 0xFFFFFFFFFFFFull;
static const uint64_t MaxSurplus = 1u << 20;
static const uint64_t MaxBaud = 4000000;
static const uint64_t MaxEraseMilliseconds = 3600000;
static const uint64_t MaxLatencyMilliseconds = 1000;

const char* const BoardUsage =
    "Usage: orbelt-board [options]\n"
    "Emulates the target board: a 128 KiB AMD-style NOR flash behind the 5-byte frame\n"
    "protocol, on a new pseudo-terminal whose path is the first line printed.\n"
    "\n"
    "  --image FILE         initial flash contents from offset 0 (default: all 0xFF)\n"
    "  --dump FILE          write the 131072-byte array to FILE when the board exits\n"
    "  --trace FILE         record every byte the host sent, raw\n"
    "  --link PATH          make PATH a symbolic link to the device (removed at exit);\n"
    "                       an existing PATH must be a dangling link\n"
    "  --exit-on-close      exit when the host closes the device after sending to it\n"
    "  --baud N             pace both directions at N baud, 11 bit times a byte\n"
    "  --latency-ms N       a USB-serial adapter between board and host: replies reach the\n"
    "                       host in 62-byte packets, a partial one when N ms have passed\n"
    "                       since the adapter's last packet (default 0: no adapter)\n"
    "  --erase-ms N         chip erase duration in milliseconds (default 1500)\n"
    "  --ack V              acknowledgement byte (default 0x00)\n"
    "faults:\n"
    "  --stop-after N       answer the first N frames, then answer nothing\n"
    "  --vanish-after N     after N frames remove the device and exit\n"
    "  --erase-never        the chip erase never completes\n"
    "  --bad-cell ADDR      reads of ADDR return bit 0 inverted (repeatable)\n"
    "  --bad-read ADDR      read frames at ADDR return bit 0 inverted (repeatable)\n"
    "  --short-program N    answer the N-th program frame with 1 byte instead of 2\n"
    "  --surplus N:COUNT    after answering frame N send COUNT extra 0xEE bytes (repeatable)\n"
    "  -h, --help           print this help\n"
    "\n"
    "Numbers are decimal or 0x hexadecimal. Frames are counted from 1 over all frames.\n"
    "Exit status: 0 after SIGTERM, SIGINT, --exit-on-close or --vanish-after (the dump and\n"
    "trace are written then), 2 for a bad command line or unusable image, 1 when the\n"
    "device cannot be set up.\n";

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

static bool ParseNumberOption(const std::string& name, const std::string& text, uint64_t min,
                              uint64_t max, uint64_t& value, std::string& error)
{
    if (!ParseBoardNumber(text, max, value) || value < min)
    {
        error = name + ": '" + text + "' is not a number from " + std::to_string(min) + " to " +
                std::to_string(max);
        return false;
    }
    return true;
}

static bool ParseSurplus(const std::string& text, CBoardOptions& options, std::string& error)
{
    const size_t colon = text.find(':');
    uint64_t frame = 0;
    uint64_t count = 0;
    if (colon == std::string::npos || !ParseBoardNumber(text.substr(0, colon), MaxFrame, frame) ||
        frame == 0 || !ParseBoardNumber(text.substr(colon + 1), MaxSurplus, count) || count == 0)
    {
        error = "--surplus: '" + text + "' is not FRAME:COUNT with both from 1 (COUNT at most " +
                std::to_string(MaxSurplus) + ")";
        return false;
    }
    options.Surplus[frame] += count;
    return true;
}

static bool IsValueOption(const std::string& name)
{
    static const char* const Names[] = {
        "--image",      "--dump",    "--trace",        "--link",          "--baud",
        "--latency-ms", "--ack",     "--erase-ms",     "--bad-cell",      "--bad-read",
        "--stop-after", "--surplus", "--vanish-after", "--short-program",
    };
    return std::any_of(std::begin(Names), std::end(Names),
                       [&name](const char* known) { return name == known; });
}

static bool ApplyValueOption(const std::string& name, const std::string& value,
                             CBoardOptions& options, std::string& error)
{
    uint64_t number = 0;
    if (name == "--image" || name == "--dump" || name == "--trace" || name == "--link")
    {
        if (value.empty())
        {
            error = name + " needs a non-empty path";
            return false;
        }
        std::string& path = name == "--image"   ? options.ImagePath
                            : name == "--dump"  ? options.DumpPath
                            : name == "--trace" ? options.TracePath
                                                : options.LinkPath;
        path = value;
        return true;
    }
    if (name == "--baud")
    {
        if (!ParseNumberOption(name, value, 1, MaxBaud, number, error))
        {
            return false;
        }
        options.Baud = static_cast<uint32_t>(number);
        return true;
    }
    if (name == "--latency-ms")
    {
        if (!ParseNumberOption(name, value, 0, MaxLatencyMilliseconds, number, error))
        {
            return false;
        }
        options.LatencyMilliseconds = static_cast<int64_t>(number);
        return true;
    }
    if (name == "--erase-ms")
    {
        if (!ParseNumberOption(name, value, 0, MaxEraseMilliseconds, number, error))
        {
            return false;
        }
        options.EraseMilliseconds = static_cast<int64_t>(number);
        return true;
    }
    if (name == "--ack")
    {
        if (!ParseNumberOption(name, value, 0, 0xFF, number, error))
        {
            return false;
        }
        options.Ack = static_cast<uint8_t>(number);
        return true;
    }
    if (name == "--bad-cell" || name == "--bad-read")
    {
        if (!ParseNumberOption(name, value, 0, FlashSize - 1, number, error))
        {
            return false;
        }
        (name == "--bad-cell" ? options.BadCells : options.BadReads)
            .push_back(static_cast<uint32_t>(number));
        return true;
    }
    if (name == "--stop-after")
    {
        options.StopAfterGiven = true;
        return ParseNumberOption(name, value, 0, MaxFrame, options.StopAfter, error);
    }
    if (name == "--vanish-after")
    {
        return ParseNumberOption(name, value, 1, MaxFrame, options.VanishAfter, error);
    }
    if (name == "--short-program")
    {
        return ParseNumberOption(name, value, 1, MaxFrame, options.ShortProgram, error);
    }
    if (name == "--surplus")
    {
        return ParseSurplus(value, options, error);
    }
    error = "unknown option '" + name + "'";
    return false;
}

bool ParseBoardOptions(int argc, const char* const* argv, CBoardOptions& options,
                       std::string& error)
{
    for (int i = 1; i < argc; ++i)
    {
        const std::string argument = argv[i];
        if (argument == "-h" || argument == "--help")
        {
            options.Help = true;
            continue;
        }
        if (argument.size() < 3 || argument.compare(0, 2, "--") != 0)
        {
            error = "unexpected argument '" + argument + "'";
            return false;
        }
        const size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        if (name == "--exit-on-close" || name == "--erase-never")
        {
            if (equals != std::string::npos)
            {
                error = name + " takes no value";
                return false;
            }
            (name == "--exit-on-close" ? options.ExitOnClose : options.EraseNever) = true;
            continue;
        }
        if (!IsValueOption(name))
        {
            error = "unknown option '" + name + "'";
            return false;
        }
        std::string value;
        if (equals != std::string::npos)
        {
            value = argument.substr(equals + 1);
        }
        else if (i + 1 < argc)
        {
            value = argv[++i];
        }
        else
        {
            error = name + " needs a value";
            return false;
        }
        if (!ApplyValueOption(name, value, options, error))
        {
            return false;
        }
    }
    return true;
}
