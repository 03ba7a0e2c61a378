// The argument walk over any argv: argument texts are the fuzz input split at NUL bytes.
#include "app/CommandLine.h"
#include "app/Settings.h"
#include "target/RunPlan.h"
#include "tests/fuzz/FuzzCheck.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace
{

const size_t MaxArguments = 64;

// The port a -p value names, read the slow and obvious way: -1 when it names none.
int ExpectedPort(const char* text)
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
    while (*p == '0')
    {
        ++p;
    }
    std::string digits;
    while (isdigit(static_cast<unsigned char>(*p)) && digits.size() < 4)
    {
        digits += *p++;
    }
    while (isdigit(static_cast<unsigned char>(*p)))
    {
        ++p;
    }
    while (isspace(static_cast<unsigned char>(*p)))
    {
        ++p;
    }
    if (negative || digits.empty() || digits.size() > 3 || *p != '\0')
    {
        return -1;
    }
    int value = 0;
    for (char digit : digits)
    {
        value = value * 10 + (digit - '0');
    }
    return value >= MinPortNumber && value <= MaxPortNumber ? value : -1;
}

void CheckPortNumber(const char* text)
{
    int port = -12345;
    bool valid = ParsePortNumber(text, port);
    int expected = ExpectedPort(text);
    FUZZ_CHECK(valid == (expected != -1));
    if (valid)
    {
        FUZZ_CHECK(port == expected);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> texts = {"orbelt-dl"};
    std::string current;
    for (size_t i = 0; i < size && texts.size() < MaxArguments; ++i)
    {
        if (data[i] == '\0')
        {
            texts.push_back(current);
            current.clear();
        }
        else
        {
            current += static_cast<char>(data[i]);
        }
    }
    if (texts.size() < MaxArguments)
    {
        texts.push_back(current);
    }
    std::vector<char*> argv;
    for (std::string& text : texts)
    {
        argv.push_back(&text[0]);
    }
    argv.push_back(nullptr);
    int argc = static_cast<int>(texts.size());

    // What the walk must find, worked out independently.
    bool expectedResult = true;
    int expectedMode = ProgramOnly;
    bool expectedStream = false;
    bool expectedSkipBlank = false;
    int expectedPort = 1;
    const char* expectedFile = nullptr;
    // The long options have their own checks and combinations, and "--" ends the options: past
    // one, only the walk's invariants are checked.
    bool longOption = false;
    for (int i = 1; i < argc; ++i)
    {
        for (const char* name :
             {"--read", "--size", "--erase", "--identify", "--update", "--no-wait", "--result",
              "--station", "--serial-at", "--serial-file", "--serial-format", "--journal-dir",
              "--record-tag", "--ports", "--log-dir", "--json", "--worker", "--"})
        {
            longOption = longOption || strcmp(argv[i], name) == 0;
        }
        if (longOption)
        {
            break;
        }
        if (strcmp(argv[i], "-vo") == 0)
        {
            expectedMode = 2;
        }
        else if (strcmp(argv[i], "-v") == 0)
        {
            expectedMode = 1;
        }
        else if (strcmp(argv[i], "-p") == 0)
        {
            if (i + 1 >= argc || ExpectedPort(argv[i + 1]) == -1)
            {
                expectedResult = false;
                break;
            }
            expectedPort = ExpectedPort(argv[++i]);
        }
        else if (strcmp(argv[i], "--stream") == 0)
        {
            expectedStream = true;
        }
        else if (strcmp(argv[i], "--skip-blank") == 0)
        {
            expectedSkipBlank = true;
        }
        else if (strcmp(argv[i], "--version") == 0 || strcmp(argv[i], "--list-ports") == 0 ||
                 strcmp(argv[i], "--help") == 0)
        {
        }
        else if (expectedFile == nullptr && argv[i][0] != '\0')
        {
            expectedFile = argv[i];
        }
    }

    CArguments walk;
    WalkArguments(argc, argv.data(), walk);
    const bool result = !walk.Failed;
    const char* fileName = walk.FileName;
    FUZZ_CHECK(VerifyMode >= 0 && VerifyMode <= 2);
    FUZZ_CHECK(ReadSize >= 1 && ReadSize <= MaxReadSize);
    FUZZ_CHECK(RunMode != nullptr);
    FUZZ_CHECK(!result || walk.Job == nullptr || RunMode == walk.Job);
    if (longOption)
    {
        FUZZ_CHECK(!result || PortNumber >= MinPortNumber && PortNumber <= MaxPortNumber);
    }
    else
    {
        FUZZ_CHECK(result == expectedResult);
        FUZZ_CHECK(VerifyMode == expectedMode);
        FUZZ_CHECK(StreamMode == expectedStream);
        FUZZ_CHECK(SkipBlank == expectedSkipBlank);
    }
    if (result && !longOption)
    {
        FUZZ_CHECK(PortNumber >= MinPortNumber && PortNumber <= MaxPortNumber);
        FUZZ_CHECK(PortNumber == expectedPort);
        FUZZ_CHECK(fileName == expectedFile);
        bool intoArgv = fileName == nullptr;
        for (int i = 1; i < argc && !intoArgv; ++i)
        {
            intoArgv = fileName == argv[i];
        }
        FUZZ_CHECK(intoArgv);
    }
    for (int i = 1; i < argc; ++i)
    {
        CheckPortNumber(argv[i]);
    }
    return 0;
}
