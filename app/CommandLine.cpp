#include "app/CommandLine.h"

#include "app/Diagnostic.h"
#include "app/Settings.h"

#include <cctype>
#include <cstdio>
#include <cstring>

int VerifyMode = ProgramOnly;
int PortNumber = 1;
int Operation = OperationDownload;
const char* ReadPath = nullptr;
int ReadSize = MaxReadSize;
bool NoWait = false;
const char* ResultPath = nullptr;
bool StreamMode = false;

namespace
{

const char* const Usage =
    "Usage: orbelt-dl [-v | -vo] [-p N] [options] IMAGE\n"
    "       orbelt-dl --read FILE [--size N] [-p N] [options]\n"
    "       orbelt-dl --erase [-p N] [options]\n"
    "Downloads the image file IMAGE into the flash of the Orbelt target board on COMN.\n"
    "\n"
    "  -v             program, then read the image back and compare it\n"
    "  -vo            verify only: compare the flash with IMAGE, no erase, no programming\n"
    "  -p N           use serial port COMN, N from 1 to 250 (default 1)\n"
    "  --stream       keep the line busy: send the next block while checking this one\n"
    "  --read FILE    read the flash back into the image file FILE (no IMAGE, -v or -vo)\n"
    "  --size N       with --read: bytes from address 0, 1 to 131072 (default 131072)\n"
    "  --erase        erase the chip only (no IMAGE, -v or -vo)\n"
    "  --no-wait      no key wait at the end; exit status 0 on success, 1 on failure\n"
    "  --result FILE  append one JSON line describing the run to FILE\n"
    "  --list-ports   list the serial ports and the number to pass to -p, and exit\n"
    "  --help         print this help and exit\n"
    "  --version      print the version and exit\n"
    "\n"
    "On Linux the environment variable ORBELT_COMN names the device of COMN (default\n"
    "/dev/ttyS(N-1)). Without --no-wait the tool waits for a key and exits with status 1.\n";

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

// A file name value: present and not empty.
bool TakePath(int argc, char** argv, int& i, const char*& path)
{
    ++i;
    if (i >= argc || argv[i][0] == '\0')
    {
        Diagnose("%s needs a file name", argv[i - 1]);
        return false;
    }
    path = argv[i];
    return true;
}

// --read and --erase work on the flash alone: an image name or -v/-vo beside them is a
// mistake to point out, not to guess around.
bool CheckCombination(const char* fileName, bool verifyGiven, bool sizeGiven, bool readGiven,
                      bool eraseGiven)
{
    const char* option = readGiven ? "--read" : "--erase";
    if (readGiven && eraseGiven)
    {
        Diagnose("--read and --erase cannot be combined");
    }
    else if (sizeGiven && !readGiven)
    {
        Diagnose("--size needs --read");
    }
    else if ((readGiven || eraseGiven) && verifyGiven)
    {
        Diagnose("%s cannot be combined with -v or -vo", option);
    }
    else if ((readGiven || eraseGiven) && fileName != nullptr)
    {
        Diagnose("%s takes no image file, but '%s' was given", option, fileName);
    }
    else
    {
        return true;
    }
    return false;
}

void ResetLongOptions()
{
    Operation = OperationDownload;
    ReadPath = nullptr;
    ReadSize = MaxReadSize;
    NoWait = false;
    StreamMode = false;
}

} // namespace

bool OptionTakesValue(const char* argument)
{
    return strcmp(argument, "-p") == 0 || strcmp(argument, "--read") == 0 ||
           strcmp(argument, "--size") == 0 || strcmp(argument, "--result") == 0;
}

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
    return value >= MinPortNumber && value <= MaxPortNumber;
}

bool ParseArguments(int argc, char** argv, const char** fileName)
{
    PortNumber = 1;
    *fileName = nullptr;
    ResetLongOptions();
    bool verifyGiven = false;
    bool sizeGiven = false;
    bool eraseGiven = false;
    const char* resultPath = nullptr;
    for (int i = 1; i < argc; ++i)
    {
        const char* argument = argv[i];
        if (strcmp(argument, "-vo") == 0)
        {
            VerifyMode = VerifyWithoutProgramming;
            verifyGiven = true;
        }
        else if (strcmp(argument, "-v") == 0)
        {
            VerifyMode = ProgramAndVerify;
            verifyGiven = true;
        }
        else if (strcmp(argument, "-p") == 0)
        {
            // A trailing -p has no value: that is an invalid port number too.
            ++i;
            if (i >= argc || !ParsePortNumber(argv[i], PortNumber))
            {
                NoteReason("invalid port number");
                printf("invalid port number\n");
                return false;
            }
        }
        else if (strcmp(argument, "--read") == 0)
        {
            if (!TakePath(argc, argv, i, ReadPath))
            {
                return false;
            }
            Operation = OperationRead;
        }
        else if (strcmp(argument, "--size") == 0)
        {
            ++i;
            if (i >= argc || !ParseReadSize(argv[i], ReadSize))
            {
                Diagnose("invalid read size '%s': give a number of bytes from 1 to %d",
                         i < argc ? argv[i] : "", MaxReadSize);
                return false;
            }
            sizeGiven = true;
        }
        else if (strcmp(argument, "--erase") == 0)
        {
            Operation = OperationErase;
            eraseGiven = true;
        }
        else if (strcmp(argument, "--no-wait") == 0)
        {
            NoWait = true;
        }
        else if (strcmp(argument, "--result") == 0)
        {
            // Taken by FindResultPath already; here only its value is checked.
            if (!TakePath(argc, argv, i, resultPath))
            {
                return false;
            }
        }
        else if (strcmp(argument, "--stream") == 0)
        {
            StreamMode = true;
        }
        else if (strcmp(argument, "--help") == 0 || strcmp(argument, "--version") == 0 ||
                 strcmp(argument, "--list-ports") == 0)
        {
            // Answered before the run starts (AnswerQuestion); never an image name.
        }
        else if (*fileName == nullptr && argument[0] != '\0')
        {
            *fileName = argument;
        }
    }
    return CheckCombination(*fileName, verifyGiven, sizeGiven, ReadPath != nullptr, eraseGiven);
}

void FindResultPath(int argc, char** argv)
{
    ResultPath = nullptr;
    for (int i = 1; i < argc; ++i)
    {
        if (strcmp(argv[i], "--result") == 0 && i + 1 < argc && argv[i + 1][0] != '\0')
        {
            ResultPath = argv[i + 1];
        }
        if (OptionTakesValue(argv[i]))
        {
            ++i;
        }
    }
}

void PrintUsage()
{
    printf("%s", Usage);
}
