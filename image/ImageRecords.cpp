#include "image/ImageRecords.h"

#include "image/Image.h"

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
unsigned long long Base = 0; // Intel HEX: from the last type 02 or 04 record
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

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
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

bool DecodeBytes(const char* text, size_t digits)
{
    if (digits % 2 != 0 || digits / 2 > MaxRecordBytes)
    {
        return false;
    }
    ByteCount = digits / 2;
    for (size_t i = 0; i < ByteCount; ++i)
    {
        int high = HexDigit(text[2 * i]);
        int low = HexDigit(text[2 * i + 1]);
        if (high < 0 || low < 0)
        {
            return false;
        }
        Bytes[i] = static_cast<unsigned char>(high * 16 + low);
    }
    return true;
}

// Bytes of the address field of S-record type n; 0 for S4, which is not defined.
size_t SAddressLength(int type)
{
    static const size_t lengths[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
    return lengths[type];
}

// Whether line (no blanks around it) is a record in format's syntax; decodes it into Bytes.
bool DecodeRecord(ERecordFormat format, const char* line, size_t length)
{
    if (format == ERecordFormat::IntelHex)
    {
        return length > 0 && line[0] == ':' && DecodeBytes(line + 1, length - 1) &&
               ByteCount >= 5 && Bytes[0] == ByteCount - 5;
    }
    if (length < 2 || line[0] != 'S' || line[1] < '0' || line[1] > '9' ||
        !DecodeBytes(line + 2, length - 2))
    {
        return false;
    }
    SType = line[1] - '0';
    size_t addressLength = SAddressLength(SType);
    return addressLength > 0 && ByteCount >= addressLength + 2 && Bytes[0] == ByteCount - 1;
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

bool PutData(unsigned long long address, const unsigned char* data, size_t length)
{
    for (size_t i = 0; i < length; ++i, ++address)
    {
        if (address >= static_cast<unsigned long long>(ImageCapacity))
        {
            return Fail(LineNumber, "address 0x%llX is past the end of the flash (0x%X bytes)",
                        address, ImageCapacity);
        }
        unsigned char bit = static_cast<unsigned char>(1u << (address % 8));
        if ((Given[address / 8] & bit) != 0 && ImageBuffer[address] != data[i])
        {
            return Fail(LineNumber, "address 0x%llX given twice with different values", address);
        }
        Given[address / 8] |= bit;
        ImageBuffer[address] = data[i];
        if (static_cast<long>(address) > Highest)
        {
            Highest = static_cast<long>(address);
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
        return PutData(Base + address, Bytes + 4, length);
    case 0x01:
        Ended = true;
        return true;
    case 0x02:
    case 0x04:
        if (length != 2)
        {
            return Fail(LineNumber, "a type %02X record needs 2 data bytes", type);
        }
        Base = BigEndian(Bytes + 4, 2) << (type == 0x02 ? 4 : 16);
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
        return PutData(address, data, length);
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
    if (!DecodeRecord(Format, Line + start, end - start))
    {
        return Fail(LineNumber, Format == ERecordFormat::IntelHex ? "not an Intel HEX record"
                                                                  : "not an S-record");
    }
    if (!CheckSum())
    {
        return false;
    }
    return Format == ERecordFormat::IntelHex ? ApplyIntelHex() : ApplySRecord();
}

} // namespace

ERecordFormat DetectRecordFormat(const unsigned char* data, size_t length, bool atEnd)
{
    size_t start = 0;
    while (start < length && (IsBlank(static_cast<char>(data[start])) || data[start] == '\n'))
    {
        ++start;
    }
    const char* text = reinterpret_cast<const char*>(data);
    const char* lineEnd = static_cast<const char*>(memchr(text + start, '\n', length - start));
    if (lineEnd == nullptr && !atEnd)
    {
        return ERecordFormat::None;
    }
    size_t end = lineEnd != nullptr ? static_cast<size_t>(lineEnd - text) : length;
    while (end > start && IsBlank(text[end - 1]))
    {
        --end;
    }
    if (DecodeRecord(ERecordFormat::IntelHex, text + start, end - start))
    {
        return ERecordFormat::IntelHex;
    }
    if (DecodeRecord(ERecordFormat::SRecord, text + start, end - start))
    {
        return ERecordFormat::SRecord;
    }
    return ERecordFormat::None;
}

void StartRecords(ERecordFormat format, unsigned char fill)
{
    Format = format;
    memset(ImageBuffer, fill, sizeof ImageBuffer);
    memset(Given, 0, sizeof Given);
    LineLength = 0;
    LineNumber = 1;
    Ended = false;
    Base = 0;
    DataRecords = 0;
    Highest = -1;
    RecordErrorLine = 0;
    RecordError[0] = '\0';
}

bool FeedRecords(const unsigned char* data, size_t length)
{
    for (size_t i = 0; i < length; ++i)
    {
        if (data[i] == '\n')
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
