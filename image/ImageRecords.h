#pragma once

#include <cstddef>

// Intel HEX (record types 00 to 05) and Motorola S-records (S0 to S9, S4 excepted, the letter in
// either case), read into ImageBuffer as the plain image: bytes no record gives hold a fill
// value, every record's checksum is checked, and no record may reach past ImageCapacity, the end
// of the flash. Lines end in LF, CR LF or CR alone; a UTF-8 byte-order mark may come first.
enum class ERecordFormat
{
    None, // a plain binary
    IntelHex,
    SRecord,
};

// The format of the file name whose first length bytes are data (a window of any size, all of
// a short file). Records when the name ends in .hex, .ihex or .ihx (Intel HEX) or .srec, .s19,
// .s28, .s37 or .mot (S-records), in any case, or when data is text (nothing but printable
// ASCII, tabs and line ends after an optional UTF-8 byte-order mark) whose first non-blank
// character is ':' (Intel HEX) or S or s and a digit (S-records), or when its first non-blank
// line is a whole record; the content decides over the name. None, a plain binary, otherwise.
// Such a file must then read whole as records.
ERecordFormat RecordFormatOf(const char* name, const unsigned char* data, size_t length);

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
