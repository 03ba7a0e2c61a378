#include "app/CommandLine.h"

#include "app/Gang.h"
#include "app/OptionNames.h"
#include "app/Questions.h"
#include "app/SerialNumber.h"
#include "app/Settings.h"
#include "base/ConsoleOut.h"
#include "base/Diagnostic.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>

const char* ReadPath = nullptr;
bool NoWait = false;
const char* ResultPath = nullptr;
bool StationMode = false;
bool JsonMode = false;
bool WorkerMode = false;

namespace
{

// Room for any path in a message about it.
char WalkError[16384];

} // namespace

bool RefuseArgument(CArguments& walk, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(WalkError, sizeof WalkError, format, arguments);
    va_end(arguments);
    walk.Error = WalkError;
    return false;
}

namespace
{

// Plain decimal digits only: a size is never guessed from a typo.
bool ParseReadSize(const char* text, int& size)
{
    long value = 0;
    const char* p = text;
    for (; isdigit(static_cast<unsigned char>(*p)) && value <= MaxReadSize; ++p)
    {
        value = value * 10 + (*p - '0');
    }
    if (p == text || *p != '\0' || value < 1 || value > MaxReadSize)
    {
        return false;
    }
    size = static_cast<int>(value);
    return true;
}

struct COption
{
    const char* Name;
    const char* Value; // the value's name in the usage text; nullptr: the option takes none
    const char* Help;
    // Applies the option; false, with the reason in the walk, when its value is wrong. value
    // is nullptr when the option takes one and argv has ended.
    bool (*Apply)(CArguments& walk, const char* name, const char* value);
    // Still taken after a bad argument: the questions and the record's file.
    bool PastErrors;
};

// A file name value: present and not empty.
bool TakePath(CArguments& walk, const char* name, const char* value, const char*& path)
{
    if (value == nullptr || value[0] == '\0')
    {
        return RefuseArgument(walk, "%s needs a file name", name);
    }
    path = value;
    return true;
}

bool ApplyVerify(CArguments& walk, const char*, const char*)
{
    VerifyMode = ProgramAndVerify;
    walk.VerifyGiven = true;
    return true;
}

bool ApplyVerifyOnly(CArguments& walk, const char*, const char*)
{
    VerifyMode = VerifyWithoutProgramming;
    walk.VerifyGiven = true;
    return true;
}

// A trailing -p has no value: that is an invalid port number too.
bool ApplyPort(CArguments& walk, const char*, const char* value)
{
    walk.PortGiven = true;
    if (value == nullptr || !ParsePortNumber(value, PortNumber))
    {
        walk.ErrorOnConsole = true;
        return RefuseArgument(walk, "invalid port number");
    }
    return true;
}

// An option that only turns a setting on.
template <bool& Setting> bool TurnOn(CArguments&, const char*, const char*)
{
    Setting = true;
    return true;
}

bool ApplyRead(CArguments& walk, const char* name, const char* value)
{
    if (!TakePath(walk, name, value, ReadPath))
    {
        return false;
    }
    walk.Job = &ReadRun;
    walk.Jobs |= JobBit(OptionRead);
    return true;
}

bool ApplySize(CArguments& walk, const char*, const char* value)
{
    if (value == nullptr || !ParseReadSize(value, ReadSize))
    {
        return RefuseArgument(walk, "invalid read size '%s': give a number of bytes from 1 to %d",
                              value != nullptr ? value : "", MaxReadSize);
    }
    walk.SizeGiven = true;
    return true;
}

// A job on the flash alone: --erase and --identify (--read takes its file too).
template <const CRunMode& Mode, EOption Row>
bool ApplyJob(CArguments& walk, const char*, const char*)
{
    walk.Job = &Mode;
    walk.Jobs |= JobBit(Row);
    return true;
}

bool ApplyUpdate(CArguments& walk, const char*, const char*)
{
    walk.UpdateGiven = true;
    return true;
}

bool ApplyJournalDir(CArguments& walk, const char* name, const char* value)
{
    if (value == nullptr || value[0] == '\0')
    {
        return RefuseArgument(walk, "%s needs a folder", name);
    }
    JournalFolderOption = value;
    return true;
}

// The last one given counts; an empty one is a mistake, and past a bad argument ignored.
bool ApplyResult(CArguments& walk, const char* name, const char* value)
{
    return TakePath(walk, name, value, ResultPath);
}

template <void (*Answer)()> bool AskQuestion(CArguments& walk, const char*, const char*)
{
    if (walk.Question == nullptr)
    {
        walk.Question = Answer;
    }
    return true;
}

const COption Options[] = {
    {"-v", nullptr, "program, then read the image back and compare it", ApplyVerify, false},
    {"-vo", nullptr, "verify only: compare the flash with IMAGE, no erase, no programming",
     ApplyVerifyOnly, false},
    {"-p", "N", "use serial port COMN, N from 1 to 250 (default 1)", ApplyPort, false},
    {"--stream", nullptr, "keep the line busy: send the next block while checking this one",
     TurnOn<StreamMode>, false},
    {"--skip-blank", nullptr, "program no byte of 0xFF: the erased flash holds it already",
     TurnOn<SkipBlank>, false},
    {"--read", "FILE", "read the flash back into the image file FILE (no IMAGE, -v or -vo)",
     ApplyRead, false},
    {"--size", "N", "with --read: bytes from address 0, 1 to 131072 (default 131072)", ApplySize,
     false},
    {"--erase", nullptr, "erase the chip only (no IMAGE, -v or -vo)",
     ApplyJob<EraseRun, OptionErase>, false},
    {"--identify", nullptr, "read the flash chip's ID and protected sectors (no IMAGE, -v or -vo)",
     ApplyJob<IdentifyRun, OptionIdentify>, false},
    {"--update", nullptr, "re-flash only the sectors where the flash differs from IMAGE",
     ApplyUpdate, false},
    {"--no-wait", nullptr, "no key wait at the end; exit status 0 on success, 1 on failure",
     TurnOn<NoWait>, false},
    {"--result", "FILE", "append one JSON line describing the run to FILE", ApplyResult, true},
    {"--station", nullptr, "flash board after board on the port, no key waits, until Ctrl-C",
     TurnOn<StationMode>, false},
    {"--serial-at", "ADDR", "put each board's serial number at flash address ADDR (0x: hex)",
     ApplySerialAt, false},
    {"--serial-file", "FILE", "the serial number counter: its first line is the next number",
     ApplySerialFile, false},
    {"--serial-format", "F", "le32 (default), be32, le16, be16, le64, be64 or decN (N digits)",
     ApplySerialFormat, false},
    {"--journal-dir", "DIR", "with --update: keep the bytes it must put back in DIR",
     ApplyJournalDir, false},
    {"--record-tag", "KEY=VALUE", "add \"KEY\":\"VALUE\" to every record of --result (repeatable)",
     ApplyRecordTag, true},
    {"--ports", "LIST", "flash on these ports at once, e.g. 1-4,7 (no -p, no --read)", ApplyPorts,
     false},
    {"--log-dir", "DIR",
     "with --ports: each port's console and diagnostics in DIR/COMN-console.log", ApplyLogDir,
     false},
    {"--json", nullptr, "JSON events on standard output, one a line; the console on stderr",
     TurnOn<JsonMode>, false},
    {"--worker", nullptr, "(for --ports) standard input is the parent's: its end stops the run",
     TurnOn<WorkerMode>, false},
    {"--list-ports", nullptr, "list the serial ports and the number to pass to -p, and exit",
     AskQuestion<PrintPortList>, true},
    {"--help", nullptr, "print this help and exit", AskQuestion<PrintUsage>, true},
    {"--version", nullptr, "print the version and exit", AskQuestion<PrintVersion>, true},
};

// "-p N": the option with the name of its value.
const char* Spelled(EOption option)
{
    static char text[4][32];
    static int next = 0;
    char* spelled = text[next++ % 4];
    const COption& row = Options[option];
    snprintf(spelled, sizeof text[0], "%s%s%s", row.Name, row.Value != nullptr ? " " : "",
             row.Value != nullptr ? row.Value : "");
    return spelled;
}

} // namespace

const char* OptionName(EOption option)
{
    return Options[option].Name;
}

int OptionArguments(const char* argument)
{
    for (const COption& option : Options)
    {
        if (strcmp(argument, option.Name) == 0)
        {
            return option.Value != nullptr ? 2 : 1;
        }
    }
    return 0;
}

namespace
{

const COption* FindOption(const char* argument)
{
    for (const COption& option : Options)
    {
        if (strcmp(argument, option.Name) == 0)
        {
            return &option;
        }
    }
    return nullptr;
}

void TakeOperand(CArguments& walk, const char* argument)
{
    if (walk.FileName == nullptr)
    {
        walk.FileName = argument[0] != '\0' ? argument : nullptr;
    }
    else if (argument[0] == '-' && walk.IgnoredCount < MaxIgnoredArguments)
    {
        walk.Ignored[walk.IgnoredCount++] = argument;
    }
}

} // namespace

bool ParsePortNumber(const char* text, int& port)
{
    const char* p = text;
    while (isspace(static_cast<unsigned char>(*p)))
    {
        ++p;
    }
    bool negative = *p == '-';
    if (*p == '-' || *p == '+')
    {
        ++p;
    }
    // Saturates instead of overflowing: any long digit string is simply out of range.
    long value = 0;
    for (; isdigit(static_cast<unsigned char>(*p)); ++p)
    {
        if (value <= MaxPortNumber)
        {
            value = value * 10 + (*p - '0');
        }
    }
    if (negative)
    {
        value = -value;
    }
    port = static_cast<int>(value);
    // A typo such as "1O" or "6x" must not pick another board.
    while (isspace(static_cast<unsigned char>(*p)))
    {
        ++p;
    }
    return *p == '\0' && value >= MinPortNumber && value <= MaxPortNumber;
}

void WalkArguments(int argc, char** argv, CArguments& walk)
{
    walk = CArguments();
    VerifyMode = ProgramOnly;
    PortNumber = 1;
    StreamMode = false;
    SkipBlank = false;
    ReadSize = MaxReadSize;
    JournalFolderOption = nullptr;
    ReadPath = nullptr;
    NoWait = false;
    ResultPath = nullptr;
    StationMode = false;
    JsonMode = false;
    WorkerMode = false;
    ResetSerialSettings();
    ResetGangSettings();
    RecordTagCount = 0;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i)
    {
        // "--" ends the options: what follows is the image name, whatever it looks like.
        if (!optionsEnded && strcmp(argv[i], "--") == 0)
        {
            optionsEnded = true;
            continue;
        }
        const COption* option = optionsEnded ? nullptr : FindOption(argv[i]);
        if (option == nullptr)
        {
            if (!walk.Failed)
            {
                TakeOperand(walk, argv[i]);
            }
            continue;
        }
        const char* value = nullptr;
        if (option->Value != nullptr)
        {
            ++i;
            value = i < argc ? argv[i] : nullptr;
        }
        if ((!walk.Failed || option->PastErrors) && !option->Apply(walk, option->Name, value) &&
            !walk.Failed)
        {
            walk.Failed = true;
        }
    }
    if (StationMode && walk.Question == PrintUsage)
    {
        walk.Question = nullptr;
        walk.HelpGiven = true;
    }
    RunMode = walk.Job != nullptr ? walk.Job
              : walk.UpdateGiven  ? &UpdateRun
                                  : &DownloadMode(VerifyMode, StationMode);
}

bool AcceptArguments(const CArguments& walk)
{
    if (walk.Failed)
    {
        if (walk.ErrorOnConsole)
        {
            NoteReason(walk.Error);
            ConsoleText("%s\n", walk.Error);
        }
        else
        {
            Diagnose("%s", walk.Error);
        }
        return false;
    }
    if (!CheckCombination(walk))
    {
        return false;
    }
    for (int i = 0; i < walk.IgnoredCount; ++i)
    {
        Warn("'%s' after the image name is no option and is ignored", walk.Ignored[i]);
    }
    return true;
}

void PrintUsage()
{
    const char* port = Spelled(OptionPort);
    printf("Usage: orbelt-dl [%s | %s] [%s] [options] IMAGE\n", OptionName(OptionVerify),
           OptionName(OptionVerifyOnly), port);
    printf("       orbelt-dl %s [%s] [%s] [options]\n", Spelled(OptionRead), Spelled(OptionSize),
           port);
    printf("       orbelt-dl %s [%s] [options]\n", OptionName(OptionErase), port);
    printf("       orbelt-dl %s [%s] [options]\n", OptionName(OptionIdentify), port);
    printf("       orbelt-dl %s [%s] [options] IMAGE\n", OptionName(OptionUpdate), port);
    printf("       orbelt-dl %s [%s | %s | %s] [%s] [options] IMAGE\n", OptionName(OptionStation),
           OptionName(OptionVerify), OptionName(OptionVerifyOnly), OptionName(OptionUpdate), port);
    printf("Downloads the image file IMAGE into the flash of the Orbelt target board on COMN.\n"
           "\n");
    const int count = static_cast<int>(sizeof Options / sizeof Options[0]);
    int width = 0;
    for (int option = 0; option < count; ++option)
    {
        width = std::max(width, static_cast<int>(strlen(Spelled(static_cast<EOption>(option)))));
    }
    for (int option = 0; option < count; ++option)
    {
        printf("  %-*s  %s\n", width, Spelled(static_cast<EOption>(option)), Options[option].Help);
    }
    printf(
        "\n"
        "On Linux the environment variable ORBELT_COMN names the device of COMN (default\n"
        "/dev/ttyS(N-1)). Without --no-wait the tool waits for a key and exits with status 1.\n");
}
