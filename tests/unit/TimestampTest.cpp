// The run record's start time, written without the C library's calendar.
#include "app/Timestamp.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

struct CInstant
{
    long long Milliseconds;
    const char* Text;
};

// Values worked out with another calendar implementation.
const CInstant Instants[] = {
    {0, "1970-01-01T00:00:00.000Z"},
    {-1, "1969-12-31T23:59:59.999Z"},
    {1706745599999, "2024-01-31T23:59:59.999Z"},
    {1709208000000, "2024-02-29T12:00:00.000Z"}, // leap year
    {1677628799999, "2023-02-28T23:59:59.999Z"},
    {1677628800000, "2023-03-01T00:00:00.000Z"},
    {951782400000, "2000-02-29T00:00:00.000Z"}, // leap century
    {4107542399999, "2100-02-28T23:59:59.999Z"},
    {4107542400000, "2100-03-01T00:00:00.000Z"}, // no leap day in 2100
    {2147483647999, "2038-01-19T03:14:07.999Z"},
    {2147483648000, "2038-01-19T03:14:08.000Z"}, // past 32-bit seconds
    {4294967296000, "2106-02-07T06:28:16.000Z"},
    {253402300799999, "9999-12-31T23:59:59.999Z"},
};

TEST(RecordTimestamp, IsTheCalendarDateInUtc)
{
    for (const CInstant& instant : Instants)
    {
        char text[40];
        FormatTimestamp(instant.Milliseconds, text, sizeof text);
        EXPECT_EQ(std::string(text), instant.Text) << instant.Milliseconds;
    }
}

} // namespace
