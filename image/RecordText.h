#pragma once

#include "image/ImageRecords.h"

#include <cstddef>

// What record files are made of, for recognising them and for reading them.
const unsigned char ByteOrderMark[3] = {0xEF, 0xBB, 0xBF}; // UTF-8, as some editors write it

inline bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

inline bool IsLineEnd(unsigned char c)
{
    return c == '\n' || c == '\r';
}

inline bool IsText(unsigned char c)
{
    return (c >= 0x20 && c <= 0x7E) || c == '\t' || IsLineEnd(c);
}

// Whether line (no blanks around it) is one whole record in format's syntax, the checksum not
// looked at. It may leave a reason in RecordError, which StartRecords clears.
bool IsWholeRecord(ERecordFormat format, const char* line, size_t length);
