#include "app/CounterFile.h"

#include "image/ReplacementFile.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace
{

// A first line longer than this is no number, padded or not: it is refused, never cut short.
const size_t CounterTextCapacity = 65536;
char CounterText[CounterTextCapacity];

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

// The number between from and to, blanks around it allowed.
ECounterStatus ParseNumber(const char* from, const char* to, uint64_t& number)
{
    while (from < to && IsBlank(*from))
    {
        ++from;
    }
    while (to > from && IsBlank(to[-1]))
    {
        --to;
    }
    if (from == to)
    {
        return CounterEmpty;
    }
    if (*from == '-' && AllDigits(from + 1, to))
    {
        return CounterNegative;
    }
    if (!AllDigits(from, to))
    {
        return CounterNotANumber;
    }
    uint64_t value = 0;
    for (const char* c = from; c < to; ++c)
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

// The line from text up to its line feed (a carriage return before it dropped); at goes past it.
const char* LineEnd(const char* text, const char* end, const char*& next)
{
    const char* feed =
        static_cast<const char*>(memchr(text, '\n', static_cast<size_t>(end - text)));
    next = feed == nullptr ? end : feed + 1;
    const char* line = feed == nullptr ? end : feed;
    return line > text && line[-1] == '\r' ? line - 1 : line;
}

bool WriteCounter(const char* path, const CCounter& counter)
{
    static CReplacementFile file;
    char text[64];
    int length = snprintf(text, sizeof text, "%" PRIu64 "\nfirst %" PRIu64 "\n", counter.Next,
                          counter.First);
    // Beside the file, and only ever written under the lock: one a killed run left goes first.
    if (OpenReplacementBeside(file, path, ".tmp") &&
        WriteReplacement(file, text, static_cast<size_t>(length)) && CommitReplacementDurably(file))
    {
        return true;
    }
    AbandonReplacement(file);
    errno = file.Error;
    return false;
}

} // namespace

ECounterStatus ReadCounter(const char* path, CCounter& counter)
{
    FILE* file = fopen(path, "rb");
    if (file == nullptr)
    {
        return errno == ENOENT ? CounterMissing : CounterUnreadable;
    }
    size_t length = fread(CounterText, 1, sizeof CounterText, file);
    int error = ferror(file) ? errno : 0;
    fclose(file);
    if (error != 0)
    {
        errno = error;
        return CounterUnreadable;
    }
    return ParseCounterText(CounterText, length, counter);
}

ECounterStatus ParseCounterText(const char* text, size_t length, CCounter& counter)
{
    const char* end = text + length;
    const char* second = nullptr;
    const char* first = LineEnd(text, end, second);
    if (second == end && length == CounterTextCapacity)
    {
        return CounterNotANumber;
    }
    counter = CCounter();
    const ECounterStatus status = ParseNumber(text, first, counter.Next);
    const char* rest = nullptr;
    const char* secondEnd = LineEnd(second, end, rest);
    const char* const key = "first ";
    const size_t keyLength = strlen(key);
    counter.FirstKnown = status == CounterOk &&
                         static_cast<size_t>(secondEnd - second) > keyLength &&
                         memcmp(second, key, keyLength) == 0 &&
                         ParseNumber(second + keyLength, secondEnd, counter.First) == CounterOk;
    if (status == CounterOk && counter.FirstKnown && counter.Next < counter.First)
    {
        return CounterBelowFirst;
    }
    return status;
}

bool CounterGave(const CCounter& counter, uint64_t number)
{
    return counter.FirstKnown && number >= counter.First && number < counter.Next;
}

ECounterStatus TakeNextNumber(const char* path, uint64_t& number)
{
    if (!LockCounterFile(path))
    {
        return errno == ENOENT ? CounterMissing : CounterNotLocked;
    }
    CCounter counter;
    ECounterStatus status = ReadCounter(path, counter);
    if (status == CounterOk && !CounterWritable(path))
    {
        status = CounterReadOnly;
    }
    if (status == CounterOk)
    {
        number = counter.Next;
        counter.First = counter.FirstKnown ? counter.First : number;
        counter.Next = number + 1;
        if (!WriteCounter(path, counter))
        {
            status = CounterNotReplaced;
        }
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
    case CounterBelowFirst:
        return "holds a next number below the first it handed out: numbers would be given twice";
    case CounterReadOnly:
        return "is read-only, so it is not advanced";
    case CounterNotLocked:
        return "cannot be locked";
    case CounterNotReplaced:
        return "cannot be replaced";
    }
    return "";
}
