#include "app/Timestamp.h"

#include <cstdio>

namespace
{

// Division rounding toward minus infinity, so that times before 1970 count back correctly.
long long FloorDivide(long long value, long long divisor)
{
    long long quotient = value / divisor;
    return quotient * divisor > value ? quotient - 1 : quotient;
}

} // namespace

// The days-from-civil inverse: years counted from March, so that the leap day ends a year.
void FormatTimestamp(long long millisecondsSinceEpoch, char* text, size_t size)
{
    const long long seconds = FloorDivide(millisecondsSinceEpoch, 1000);
    const int milliseconds = static_cast<int>(millisecondsSinceEpoch - seconds * 1000);
    const long long epochDays = FloorDivide(seconds, 86400);
    const int secondOfDay = static_cast<int>(seconds - epochDays * 86400);
    const long long days = epochDays + 719468;
    const long long era = FloorDivide(days, 146097);
    const long long dayOfEra = days - era * 146097;
    const long long yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long shiftedMonth = (5 * dayOfYear + 2) / 153;
    const int day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    const int month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    const long long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    snprintf(text, size, "%04lld-%02d-%02dT%02d:%02d:%02d.%03dZ", year, month, day,
             secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60, milliseconds);
}
