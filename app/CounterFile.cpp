#include "app/CounterFile.h"

#include "image/ReplacementFile.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace
{

// A first line longer than this holds no number anyway.
const size_t CounterTextCapacity = 64;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool AllDigits(const char* from, const char* to)
{
    for (const char* c = from; c < to; ++c)
    {
        if (*c < '0' || *c > '9')
        {
            return false;
        }
    }
    return from < to;
}

} // namespace

ECounterStatus ReadNextNumber(const char* path, uint64_t& number)
{
    FILE* file = fopen(path, "rb");
    if (file == nullptr)
    {
        return errno == ENOENT ? CounterMissing : CounterUnreadable;
    }
    char text[CounterTextCapacity];
    size_t length = fread(text, 1, sizeof text, file);
    int error = ferror(file) ? errno : 0;
    fclose(file);
    if (error != 0)
    {
        errno = error;
        return CounterUnreadable;
    }
    return ParseCounterText(text, length, number);
}

namespace
{

bool WriteCounter(const char* path, uint64_t next)
{
    static CReplacementFile file;
    char text[32];
    int length = snprintf(text, sizeof text, "%" PRIu64 "\n", next);
    if (OpenReplacement(file, path) && WriteReplacement(file, text, static_cast<size_t>(length)) &&
        CommitReplacementDurably(file))
    {
        return true;
    }
    AbandonReplacement(file);
    errno = file.Error;
    return false;
}

} // namespace

ECounterStatus ParseCounterText(const char* text, size_t length, uint64_t& number)
{
    const char* end = static_cast<const char*>(memchr(text, '\n', length));
    end = end == nullptr ? text + length : end;
    end -= end > text && end[-1] == '\r' ? 1 : 0;
    while (text < end && IsBlank(*text))
    {
        ++text;
    }
    while (end > text && IsBlank(end[-1]))
    {
        --end;
    }
    if (text == end)
    {
        return CounterEmpty;
    }
    if (*text == '-' && AllDigits(text + 1, end))
    {
        return CounterNegative;
    }
    if (!AllDigits(text, end))
    {
        return CounterNotANumber;
    }
    uint64_t value = 0;
    for (const char* c = text; c < end; ++c)
    {
        unsigned digit = static_cast<unsigned>(*c - '0');
        if (value > (UINT64_MAX - 1 - digit) / 10)
        {
            return CounterTooLarge;
        }
        value = value * 10 + digit;
    }
    number = value;
    return CounterOk;
}

ECounterStatus TakeNextNumber(const char* path, uint64_t& number)
{
    if (!LockCounterFile(path))
    {
        return errno == ENOENT ? CounterMissing : CounterNotLocked;
    }
    ECounterStatus status = ReadNextNumber(path, number);
    if (status == CounterOk && !WriteCounter(path, number + 1))
    {
        status = CounterNotReplaced;
    }
    int error = errno;
    UnlockCounterFile();
    errno = error;
    return status;
}

const char* CounterStatusText(ECounterStatus status)
{
    switch (status)
    {
    case CounterOk:
        return "holds a number";
    case CounterMissing:
        return "does not exist";
    case CounterUnreadable:
        return "cannot be read";
    case CounterEmpty:
        return "is empty: its first line must be the next serial number";
    case CounterNotANumber:
        return "does not hold a number: its first line must be the next serial number";
    case CounterNegative:
        return "holds a negative number";
    case CounterTooLarge:
        return "holds a number too large to advance";
    case CounterNotLocked:
        return "cannot be locked";
    case CounterNotReplaced:
        return "cannot be replaced";
    }
    return "";
}
