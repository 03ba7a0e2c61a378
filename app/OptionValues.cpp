#include "app/OptionValues.h"

#include "image/Image.h"
#include "target/RunPlan.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

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

bool ParseFlashAddress(const char* text, int& address)
{
    const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* digits = hex ? text + 2 : text;
    const size_t length = strspn(digits, hex ? "0123456789abcdefABCDEF" : "0123456789");
    if (length == 0 || digits[length] != '\0')
    {
        return false;
    }
    const unsigned long value = strtoul(digits, nullptr, hex ? 16 : 10);
    if (value >= static_cast<unsigned long>(ImageCapacity))
    {
        return false;
    }
    address = static_cast<int>(value);
    return true;
}
