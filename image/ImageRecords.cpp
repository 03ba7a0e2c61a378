#include "image/ImageRecords.h"

#include "image/Image.h"
#include "image/RecordText.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

unsigned long RecordErrorLine = 0;
char RecordError[96] = "";

namespace
{

// The longest record: an Intel HEX line with 255 data bytes is 521 characters.
const size_t LineCapacity = 1024;
const size_t MaxRecordBytes = 260;

ERecordFormat Format = ERecordFormat::None;
char Line[LineCapacity];
size_t LineLength = 0;
unsigned long LineNumber = 1;
bool Ended = false;
bool AfterCarriageReturn = false; // a line feed right after it ends no second line
unsigned long long Base = 0;      // Intel HEX: from the last type 02 or 04 record
bool Segmented = false;           // the last was type 02: offsets wrap within the 64 KiB segment
unsigned long DataRecords = 0;
long Highest = -1;
unsigned char Given[ImageCapacity / 8]; // one bit per address a record has given

// The record in hand: the bytes after ":" (length, address, type, data, checksum) or after
// "Sn" (count, address, data, checksum).
unsigned char Bytes[MaxRecordBytes];
size_t ByteCount = 0;
int SType = 0;

bool Fail(unsigned long line, const char* format, ...)
{
    RecordErrorLine = line;
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(RecordError, sizeof RecordError, format, arguments);
    va_end(arguments);
    return false;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
    {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F')
    {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f')
    {
        return c - 'a' + 10;
    }
    return -1;
}

bool NotAHexDigit(char c)
{
    unsigned char byte = static_cast<unsigned char>(c);
    return byte >= 0x20 && byte <= 0x7E ? Fail(LineNumber, "'%c' is not a hex digit", c)
                                        : Fail(LineNumber, "byte 0x%02X is not a hex digit", byte);
}

bool DecodeBytes(const char* text, size_t digits)
{
    for (size_t i = 0; i < digits; ++i)
    {
        if (HexDigit(text[i]) < 0)
        {
            return NotAHexDigit(text[i]);
        }
    }
    if (digits % 2 != 0)
    {
        return Fail(LineNumber, "an odd number of hex digits (%lu)",
                    static_cast<unsigned long>(digits));
    }
    if (digits / 2 > MaxRecordBytes)
    {
        return Fail(LineNumber, "too long for a record");
    }
    ByteCount = digits / 2;
    for (size_t i = 0; i < ByteCount; ++i)
    {
        Bytes[i] =
            static_cast<unsigned char>(HexDigit(text[2 * i]) * 16 + HexDigit(text[2 * i + 1]));
    }
    return true;
}

// Bytes of the address field of S-record type n; 0 for S4, which is not defined.
size_t SAddressLength(int type)
{
    static const size_t lengths[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
    return lengths[type];
}

bool CountMatches(unsigned given, size_t following, const char* what)
{
    return given == following || Fail(LineNumber, "byte count %u, but %lu %s", given,
                                      static_cast<unsigned long>(following), what);
}

// Decodes line (no blanks around it) into Bytes; false with the reason when it is no record in
// format's syntax (the checksum is not looked at here).
bool DecodeRecord(ERecordFormat format, const char* line, size_t length)
{
    if (format == ERecordFormat::IntelHex)
    {
        if (line[0] != ':')
        {
            return Fail(LineNumber, "not an Intel HEX record (no ':' at its start)");
        }
        if (!DecodeBytes(line + 1, length - 1))
        {
            return false;
        }
        return (ByteCount >= 5 || Fail(LineNumber, "too short for an Intel HEX record")) &&
               CountMatches(Bytes[0], ByteCount - 5, "data bytes follow");
    }
    if (length < 2 || (line[0] != 'S' && line[0] != 's') || line[1] < '0' || line[1] > '9')
    {
        return Fail(LineNumber, "not an S-record (no S and a type digit at its start)");
    }
    SType = line[1] - '0';
    size_t addressLength = SAddressLength(SType);
    if (addressLength == 0)
    {
        return Fail(LineNumber, "S%d is not a record type", SType);
    }
    if (!DecodeBytes(line + 2, length - 2))
    {
        return false;
    }
    return (ByteCount >= addressLength + 2 ||
            Fail(LineNumber, "too short for an S%d record", SType)) &&
           CountMatches(Bytes[0], ByteCount - 1, "bytes follow");
}

unsigned long long BigEndian(const unsigned char* bytes, size_t length)
{
    unsigned long long value = 0;
    for (size_t i = 0; i < length; ++i)
    {
        value = value << 8 | bytes[i];
    }
    return value;
}

bool CheckSum()
{
    unsigned sum = 0;
    for (size_t i = 0; i + 1 < ByteCount; ++i)
    {
        sum += Bytes[i];
    }
    unsigned expected =
        Format == ERecordFormat::IntelHex ? (0x100 - sum % 0x100) % 0x100 : ~sum & 0xFF;
    unsigned given = Bytes[ByteCount - 1];
    return given == expected ||
           Fail(LineNumber, "bad checksum 0x%02X (0x%02X expected)", given, expected);
}

bool PutByte(unsigned long long address, unsigned char value)
{
    if (address >= static_cast<unsigned long long>(ImageCapacity))
    {
        return Fail(LineNumber, "address 0x%llX is past the end of the flash (0x%X bytes)", address,
                    ImageCapacity);
    }
    unsigned char bit = static_cast<unsigned char>(1u << (address % 8));
    if ((Given[address / 8] & bit) != 0 && ImageBuffer[address] != value)
    {
        return Fail(LineNumber, "address 0x%llX given twice with different values", address);
    }
    Given[address / 8] |= bit;
    ImageBuffer[address] = value;
    if (static_cast<long>(address) > Highest)
    {
        Highest = static_cast<long>(address);
    }
    return true;
}

// A data record's bytes at base + offset onwards; in a segment the offset wraps at 64 KiB.
bool PutData(unsigned long long base, unsigned long long offset, const unsigned char* data,
             size_t length, bool inSegment)
{
    for (size_t i = 0; i < length; ++i)
    {
        unsigned long long within = inSegment ? (offset + i) % 0x10000 : offset + i;
        if (!PutByte(base + within, data[i]))
        {
            return false;
        }
    }
    ++DataRecords;
    return true;
}

bool ApplyIntelHex()
{
    unsigned type = Bytes[3];
    unsigned long long address = BigEndian(Bytes + 1, 2);
    size_t length = Bytes[0];
    switch (type)
    {
    case 0x00:
        return PutData(Base, address, Bytes + 4, length, Segmented);
    case 0x01:
        Ended = true;
        return true;
    case 0x02:
    case 0x04:
        if (length != 2)
        {
            return Fail(LineNumber, "a type %02X record needs 2 data bytes", type);
        }
        Segmented = type == 0x02;
        Base = BigEndian(Bytes + 4, 2) << (Segmented ? 4 : 16);
        return true;
    case 0x03: // start addresses mean nothing to a flash image
    case 0x05:
        return true;
    default:
        return Fail(LineNumber, "record type %02X unknown", type);
    }
}

bool ApplySRecord()
{
    size_t addressLength = SAddressLength(SType);
    unsigned long long address = BigEndian(Bytes + 1, addressLength);
    const unsigned char* data = Bytes + 1 + addressLength;
    size_t length = ByteCount - addressLength - 2;
    switch (SType)
    {
    case 1:
    case 2:
    case 3:
        return PutData(0, address, data, length, false);
    case 5:
    case 6:
        // The count of data records so far: a line lost in between shows here.
        return address == DataRecords ||
               Fail(LineNumber, "record count %llu, but %lu data records before it", address,
                    DataRecords);
    case 7:
    case 8:
    case 9:
        Ended = true;
        return true;
    default: // S0, the header
        return true;
    }
}

bool EndLine()
{
    size_t start = 0;
    size_t end = LineLength;
    if (LineNumber == 1 && end >= sizeof ByteOrderMark &&
        memcmp(Line, ByteOrderMark, sizeof ByteOrderMark) == 0)
    {
        start = sizeof ByteOrderMark;
    }
    while (start < end && IsBlank(Line[start]))
    {
        ++start;
    }
    while (end > start && IsBlank(Line[end - 1]))
    {
        --end;
    }
    LineLength = 0;
    if (start == end)
    {
        return true;
    }
    if (Ended)
    {
        return Fail(LineNumber, "more after the end record");
    }
    if (!DecodeRecord(Format, Line + start, end - start) || !CheckSum())
    {
        return false;
    }
    return Format == ERecordFormat::IntelHex ? ApplyIntelHex() : ApplySRecord();
}

} // namespace

bool IsWholeRecord(ERecordFormat format, const char* line, size_t length)
{
    return DecodeRecord(format, line, length);
}

void StartRecords(ERecordFormat format, unsigned char fill)
{
    Format = format;
    memset(ImageBuffer, fill, sizeof ImageBuffer);
    memset(Given, 0, sizeof Given);
    LineLength = 0;
    LineNumber = 1;
    Ended = false;
    AfterCarriageReturn = false;
    Base = 0;
    Segmented = false;
    DataRecords = 0;
    Highest = -1;
    RecordErrorLine = 0;
    RecordError[0] = '\0';
}

bool FeedRecords(const unsigned char* data, size_t length)
{
    for (size_t i = 0; i < length; ++i)
    {
        bool crlf = AfterCarriageReturn && data[i] == '\n';
        AfterCarriageReturn = data[i] == '\r';
        if (crlf)
        {
            continue;
        }
        if (IsLineEnd(data[i]))
        {
            if (!EndLine())
            {
                return false;
            }
            ++LineNumber;
        }
        else if (LineLength == sizeof Line)
        {
            return Fail(LineNumber, "not a record: the line is too long");
        }
        else
        {
            Line[LineLength++] = static_cast<char>(data[i]);
        }
    }
    return true;
}

bool FinishRecords()
{
    if (LineLength > 0 && !EndLine())
    {
        return false;
    }
    if (!Ended)
    {
        return Fail(0, "no end record: the file may be cut short");
    }
    if (Highest < 0)
    {
        return Fail(0, "no data records");
    }
    ImageLength = static_cast<int>(Highest + 1);
    return true;
}
