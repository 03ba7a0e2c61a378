#include "app/CommandLine.h"

#include "app/Settings.h"

#include <cctype>
#include <cstdio>
#include <cstring>

int VerifyMode = ProgramOnly;
int PortNumber = 1;
bool StreamMode = false;

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
    for (int i = 1; i < argc; ++i)
    {
        const char* argument = argv[i];
        if (strcmp(argument, "-vo") == 0)
        {
            VerifyMode = VerifyWithoutProgramming;
        }
        else if (strcmp(argument, "-v") == 0)
        {
            VerifyMode = ProgramAndVerify;
        }
        else if (strcmp(argument, "-p") == 0)
        {
            // A trailing -p has no value: that is an invalid port number too.
            ++i;
            if (i >= argc || !ParsePortNumber(argv[i], PortNumber))
            {
                printf("invalid port number\n");
                return false;
            }
        }
        else if (strcmp(argument, "--stream") == 0)
        {
            StreamMode = true;
        }
        else if (strcmp(argument, "--version") == 0 || strcmp(argument, "--list-ports") == 0)
        {
            // Answered before the run starts (AnswerQuestion); never an image name.
        }
        else if (*fileName == nullptr && argument[0] != '\0')
        {
            *fileName = argument;
        }
    }
    return true;
}
