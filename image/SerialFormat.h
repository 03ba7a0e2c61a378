#pragma once

#include <cstddef>
#include <cstdint>

// How a serial number is laid out in the image: binary of a width and byte order, or a count of
// ASCII decimal digits, zero-padded.
enum ESerialLayout
{
    LittleEndian,
    BigEndian,
    DecimalDigits,
};

struct CSerialFormat
{
    ESerialLayout Layout;
    int Width; // bytes the number takes in the image
};

const CSerialFormat DefaultSerialFormat = {LittleEndian, 4}; // le32
const int MaxSerialDigits = 20;                              // as many as 2^64 - 1 has

// le32, be32, le16, be16, le64, be64 or decN (N from 1 to 20). False for any other name.
bool ParseSerialFormat(const char* name, CSerialFormat& format);
bool SerialFits(const CSerialFormat& format, uint64_t number);
// Writes number, which must fit, into the format's Width bytes at field.
void WriteSerial(const CSerialFormat& format, uint64_t number, unsigned char* field);
// The number the format's Width bytes at field hold; false when they hold none (a digit field
// with another byte in it).
bool ReadSerial(const CSerialFormat& format, const unsigned char* field, uint64_t& number);
