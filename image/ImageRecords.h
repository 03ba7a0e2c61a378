#pragma once

#include <cstddef>

// Intel HEX (record types 00 to 05) and Motorola S-records (S0 to S9, S4 excepted), read into
// ImageBuffer as the plain image: bytes no record gives hold a fill value, every record's
// checksum is checked, and no record may reach past ImageCapacity, the end of the flash.
enum class ERecordFormat
{
    None, // a plain binary
    IntelHex,
    SRecord,
};

// The format of the stream whose first length bytes are data: a record format when its first
// non-blank line is a whole record in that format's syntax (the checksum is not looked at
// here), None otherwise, also when that line does not end within data before atEnd.
ERecordFormat DetectRecordFormat(const unsigned char* data, size_t length, bool atEnd);

// Fills ImageBuffer with fill and gets ready for a stream of records in format.
void StartRecords(ERecordFormat format, unsigned char fill);
// The stream's next bytes, in pieces of any size. False at the first bad record: RecordErrorLine
// (counted from 1) and RecordError say which and why.
bool FeedRecords(const unsigned char* data, size_t length);
// After the last piece: checks that the stream ended with its end record and sets ImageLength
// to one past the highest address written. False as FeedRecords, RecordErrorLine 0 when the
// fault is no single line's.
bool FinishRecords();

extern unsigned long RecordErrorLine;
extern char RecordError[96];
