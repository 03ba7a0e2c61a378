#include "image/RecordText.h"

#include <cctype>
#include <cstring>

namespace
{

// ':' or S (s) and a digit: what the first record of either format starts with.
ERecordFormat FormatOfStart(const unsigned char* data, size_t length)
{
    if (length > 0 && data[0] == ':')
    {
        return ERecordFormat::IntelHex;
    }
    bool sLetter = length > 1 && (data[0] == 'S' || data[0] == 's');
    return sLetter && data[1] >= '0' && data[1] <= '9' ? ERecordFormat::SRecord
                                                       : ERecordFormat::None;
}

// Records when it starts like them and is text: no NUL and nothing but printable ASCII, tabs
// and line ends after an optional byte-order mark. A file that is not text is records all the
// same when its first line is a whole record, so that a stray byte further on is refused by its
// line instead of being flashed.
ERecordFormat FormatOfContent(const unsigned char* data, size_t length)
{
    size_t start =
        length >= sizeof ByteOrderMark && memcmp(data, ByteOrderMark, sizeof ByteOrderMark) == 0
            ? sizeof ByteOrderMark
            : 0;
    bool text = true;
    for (size_t i = start; text && i < length; ++i)
    {
        text = IsText(data[i]);
    }
    while (start < length && (IsBlank(static_cast<char>(data[start])) || IsLineEnd(data[start])))
    {
        ++start;
    }
    ERecordFormat format = FormatOfStart(data + start, length - start);
    if (format == ERecordFormat::None || text)
    {
        return format;
    }
    size_t end = start;
    while (end < length && !IsLineEnd(data[end]))
    {
        ++end;
    }
    while (end > start && IsBlank(static_cast<char>(data[end - 1])))
    {
        --end;
    }
    const char* line = reinterpret_cast<const char*>(data + start);
    return IsWholeRecord(format, line, end - start) ? format : ERecordFormat::None;
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
