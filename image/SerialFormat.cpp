#include "image/SerialFormat.h"

#include <cstring>

namespace
{

struct CNamedFormat
{
    const char* Name;
    CSerialFormat Format;
};

const CNamedFormat BinaryFormats[] = {
    {"le16", {LittleEndian, 2}}, {"be16", {BigEndian, 2}},    {"le32", {LittleEndian, 4}},
    {"be32", {BigEndian, 4}},    {"le64", {LittleEndian, 8}}, {"be64", {BigEndian, 8}},
};

// Byte i of the field holds bits 8 * ByteShift(i) and up.
int ByteShift(const CSerialFormat& format, int i)
{
    return format.Layout == LittleEndian ? i : format.Width - 1 - i;
}

bool ParseDigitCount(const char* text, int& count)
{
    count = 0;
    for (const char* c = text; *c != '\0'; ++c)
    {
        if (*c < '0' || *c > '9' || count > MaxSerialDigits)
        {
            return false;
        }
        count = count * 10 + (*c - '0');
    }
    return text[0] != '\0' && text[0] != '0' && count <= MaxSerialDigits;
}

} // namespace

bool ParseSerialFormat(const char* name, CSerialFormat& format)
{
    for (const CNamedFormat& named : BinaryFormats)
    {
        if (strcmp(name, named.Name) == 0)
        {
            format = named.Format;
            return true;
        }
    }
    int digits = 0;
    if (strncmp(name, "dec", 3) != 0 || !ParseDigitCount(name + 3, digits))
    {
        return false;
    }
    format = {DecimalDigits, digits};
    return true;
}

bool SerialFits(const CSerialFormat& format, uint64_t number)
{
    if (format.Layout != DecimalDigits)
    {
        return format.Width >= 8 || number >> (8 * format.Width) == 0;
    }
    for (int digit = 0; digit < format.Width && number > 0; ++digit)
    {
        number /= 10;
    }
    return number == 0;
}

void WriteSerial(const CSerialFormat& format, uint64_t number, unsigned char* field)
{
    for (int i = 0; i < format.Width; ++i)
    {
        if (format.Layout == DecimalDigits)
        {
            field[format.Width - 1 - i] = static_cast<unsigned char>('0' + number % 10);
            number /= 10;
        }
        else
        {
            field[i] = static_cast<unsigned char>(number >> (8 * ByteShift(format, i)));
        }
    }
}

bool ReadSerial(const CSerialFormat& format, const unsigned char* field, uint64_t& number)
{
    number = 0;
    for (int i = 0; i < format.Width; ++i)
    {
        if (format.Layout != DecimalDigits)
        {
            number |= uint64_t{field[i]} << (8 * ByteShift(format, i));
            continue;
        }
        unsigned digit = field[i] - static_cast<unsigned>('0');
        if (digit > 9 || number > (UINT64_MAX - digit) / 10)
        {
            return false;
        }
        number = number * 10 + digit;
    }
    return true;
}
