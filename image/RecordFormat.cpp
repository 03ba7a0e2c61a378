#include "image/ImageRecords.h"
#include "image/RecordText.h"

#include <cctype>
#include <cstring>

namespace
{

// A text file: no NUL and nothing but printable ASCII, tabs and line ends after an optional
// byte-order mark.
ERecordFormat FormatOfContent(const unsigned char* data, size_t length)
{
    size_t start =
        length >= sizeof ByteOrderMark && memcmp(data, ByteOrderMark, sizeof ByteOrderMark) == 0
            ? sizeof ByteOrderMark
            : 0;
    for (size_t i = start; i < length; ++i)
    {
        if (!IsText(data[i]))
        {
            return ERecordFormat::None;
        }
    }
    while (start < length && (IsBlank(static_cast<char>(data[start])) || IsLineEnd(data[start])))
    {
        ++start;
    }
    if (start < length && data[start] == ':')
    {
        return ERecordFormat::IntelHex;
    }
    bool sLetter = start + 1 < length && (data[start] == 'S' || data[start] == 's');
    return sLetter && data[start + 1] >= '0' && data[start + 1] <= '9' ? ERecordFormat::SRecord
                                                                       : ERecordFormat::None;
}

bool HasExtension(const char* name, const char* const* extensions)
{
    const char* dot = strrchr(name, '.');
    if (dot == nullptr || strpbrk(dot, "/\\") != nullptr)
    {
        return false;
    }
    for (; *extensions != nullptr; ++extensions)
    {
        size_t i = 0;
        while (dot[i] != '\0' && tolower(static_cast<unsigned char>(dot[i])) == (*extensions)[i])
        {
            ++i;
        }
        if (dot[i] == '\0' && (*extensions)[i] == '\0')
        {
            return true;
        }
    }
    return false;
}

} // namespace

ERecordFormat RecordFormatOf(const char* name, const unsigned char* data, size_t length)
{
    static const char* const intelHex[] = {".hex", ".ihex", ".ihx", nullptr};
    static const char* const sRecords[] = {".srec", ".s19", ".s28", ".s37", ".mot", nullptr};
    ERecordFormat format = FormatOfContent(data, length);
    if (format == ERecordFormat::None && HasExtension(name, intelHex))
    {
        return ERecordFormat::IntelHex;
    }
    if (format == ERecordFormat::None && HasExtension(name, sRecords))
    {
        return ERecordFormat::SRecord;
    }
    return format;
}
