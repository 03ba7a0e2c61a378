// Intel HEX and S-records: which files are records, and what reading them gives or why not.
#include "image/Image.h"
#include "image/ImageRecords.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace
{

std::string Digits(const std::vector<unsigned>& bytes)
{
    std::string text;
    char pair[3];
    for (unsigned byte : bytes)
    {
        snprintf(pair, sizeof pair, "%02X", byte & 0xFF);
        text += pair;
    }
    return text;
}

// One Intel HEX record with a 16-bit address, its checksum right, ending in LF.
std::string Hex(unsigned type, unsigned address, std::vector<unsigned> data)
{
    std::vector<unsigned> bytes{static_cast<unsigned>(data.size()), address >> 8, address & 0xFF,
                                type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (unsigned byte : bytes)
    {
        sum += byte;
    }
    bytes.push_back((0x100 - sum % 0x100) % 0x100);
    return ":" + Digits(bytes) + "\n";
}

// One S-record of type, with the address field that type has, ending in LF.
std::string S(unsigned type, unsigned address, std::vector<unsigned> data)
{
    static const unsigned addressLengths[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
    std::vector<unsigned> bytes{static_cast<unsigned>(addressLengths[type] + data.size() + 1)};
    for (unsigned i = addressLengths[type]; i-- > 0;)
    {
        bytes.push_back((address >> (8 * i)) & 0xFF);
    }
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (unsigned byte : bytes)
    {
        sum += byte;
    }
    bytes.push_back(~sum & 0xFF);
    return "S" + std::to_string(type) + Digits(bytes) + "\n";
}

std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    {
        text.replace(at, from.size(), to);
    }
    return text;
}

const std::string HexEnd = Hex(1, 0, {});
const std::string Data10 = Hex(0, 0x0010, {0xA1, 0xA2});
const std::string GoodHex = Data10 + HexEnd;
const std::string GoodS = S(0, 0, {'h'}) + S(1, 0x0010, {0xA1, 0xA2}) + S(9, 0, {});
const std::string Bom = "\xEF\xBB\xBF";

using CBytes = std::vector<std::pair<unsigned, unsigned>>; // address, value

struct CRecordCase
{
    const char* Name;
    std::string Text;
    ERecordFormat Format;
    unsigned long RefusedAt; // the line named, 0 for the file as a whole
    const char* Refusal;     // nullptr: read whole
    CBytes Bytes;
};

const ERecordFormat IntelHex = ERecordFormat::IntelHex;
const ERecordFormat SRecords = ERecordFormat::SRecord;

CRecordCase Read(const char* name, const std::string& text, ERecordFormat format, CBytes bytes)
{
    return {name, text, format, 0, nullptr, std::move(bytes)};
}

CRecordCase Refused(const char* name, const std::string& text, ERecordFormat format,
                    unsigned long line, const char* refusal)
{
    return {name, text, format, line, refusal, {}};
}

CRecordCase Plain(const char* name, const std::string& text)
{
    return {name, text, ERecordFormat::None, 0, nullptr, {}};
}

const std::vector<CRecordCase> Cases = {
    // Which files are records.
    Read("fw.bin", GoodHex, IntelHex, {{0x10, 0xA1}, {0x11, 0xA2}}),
    Read("fw.bin", "\n \t" + GoodS, SRecords, {{0x10, 0xA1}}),
    Plain("fw.bin", std::string(":00\0\xFF\n", 6)),
    Plain("fw.bin", "# notes\n" + GoodHex),
    Refused("fw.bin", GoodHex + "\x1A", IntelHex, 3, "more after the end record"),
    Refused("FW.HEX", "# notes\n" + GoodHex, IntelHex, 1, "not an Intel HEX record"),
    Refused("FW.Mot", std::string("\0\x01", 2), SRecords, 1, "not an S-record"),
    Plain("dir.hex/fw", std::string("\0\x01", 2)),
    Read("fw.srec", GoodHex, IntelHex, {{0x10, 0xA1}}),
    // Text the records come in.
    Read("fw.bin", Bom + GoodHex, IntelHex, {{0x10, 0xA1}}),
    Read("fw.bin", Replace(GoodHex, "\n", "\r"), IntelHex, {{0x11, 0xA2}}),
    Refused("fw.bin",
            Hex(0, 0, {1}) + "\r\n\r" + Replace(Data10, "\n", "\r") + ":0000000001\n" + HexEnd,
            IntelHex, 5, "bad checksum 0x01"),
    Read("fw.bin", Replace(Replace(GoodS, "S", "s"), "\n", "\r\n"), SRecords, {{0x11, 0xA2}}),
    // A damaged first line is refused by its number and what is wrong with it.
    Refused("fw.bin", Data10.substr(0, Data10.size() - 2) + "\n" + HexEnd, IntelHex, 1,
            "an odd number of hex digits"),
    Refused("fw.bin", Replace(GoodHex, ":020010", ":02G010"), IntelHex, 1,
            "'G' is not a hex digit"),
    Refused("fw.bin", Replace(GoodHex, ":020010", ":030010"), IntelHex, 1,
            "byte count 3, but 2 data bytes follow"),
    Refused("fw.bin", Replace(GoodHex, "\n:00", "xyz\n:00"), IntelHex, 1, "'x' is not a hex digit"),
    Refused("fw.bin", Replace(GoodHex, ":020010", ":02 0010"), IntelHex, 1,
            "' ' is not a hex digit"),
    Refused("fw.bin", "S4" + GoodS, SRecords, 1, "S4 is not a record type"),
    // Where data goes and what a stream may not do.
    Read("fw.hex", Hex(2, 0, {0x01, 0x00}) + Hex(0, 0x0010, {0x5A}) + HexEnd, IntelHex,
         {{0x1010, 0x5A}}),
    Read("fw.hex", Hex(2, 0, {0x10, 0x00}) + Hex(0, 0xFFFE, {1, 2, 3, 4}) + HexEnd, IntelHex,
         {{0x1FFFE, 1}, {0x1FFFF, 2}, {0x10000, 3}, {0x10001, 4}}),
    Refused("fw.hex", Hex(4, 0, {0x00, 0x01}) + Hex(0, 0xFFFF, {1, 2}) + HexEnd, IntelHex, 2,
            "address 0x20000 is past the end of the flash"),
    Read("fw.hex", Data10 + Data10 + HexEnd, IntelHex, {{0x10, 0xA1}}),
    Refused("fw.hex", Data10 + Hex(0, 0x0011, {0xA3}) + HexEnd, IntelHex, 2,
            "address 0x11 given twice with different values"),
    Refused("fw.hex", GoodHex + Data10, IntelHex, 3, "more after the end record"),
    Refused("fw.hex", Data10 + "\n", IntelHex, 0, "no end record"),
    Read("fw.s19", S(1, 0, {1}) + S(2, 0x10000, {2}) + S(5, 2, {}) + S(9, 0, {}), SRecords,
         {{0x10000, 2}}),
    Refused("fw.s19", S(1, 0, {1}) + S(1, 1, {2}) + S(5, 1, {}) + S(9, 0, {}), SRecords, 3,
            "record count 1, but 2 data records before it"),
    Read("fw.s28", S(2, 0, {1}) + S(6, 1, {}) + S(8, 0, {}), SRecords, {{0, 1}}),
    Refused("fw.s28", S(2, 0, {1}) + S(6, 0x10001, {}) + S(8, 0, {}), SRecords, 2,
            "record count 65537, but 1 data records before it"),
    Refused("fw.s37", S(3, 0, {1}) + S(9, 0, {}) + "\n\n" + S(3, 1, {2}), SRecords, 5,
            "more after the end record"),
    Refused("fw.s37", S(3, 0x1FFFF, {7}), SRecords, 0, "no end record"),
};

} // namespace

// Each file is fed a byte at a time, so that no line end, byte-order mark or record depends on
// where the pieces are cut.
TEST(RecordsTest, FilesAreReadOrRefusedByLine)
{
    for (size_t row = 0; row < Cases.size(); ++row)
    {
        const CRecordCase& test = Cases[row];
        const auto* text = reinterpret_cast<const unsigned char*>(test.Text.data());
        ERecordFormat format = RecordFormatOf(test.Name, text, test.Text.size());
        EXPECT_EQ(format, test.Format) << "row " << row;
        if (format == ERecordFormat::None || format != test.Format)
        {
            continue;
        }
        StartRecords(format, 0xFF);
        bool read = true;
        for (size_t i = 0; read && i < test.Text.size(); ++i)
        {
            read = FeedRecords(text + i, 1);
        }
        read = read && FinishRecords();
        EXPECT_EQ(read, test.Refusal == nullptr) << "row " << row << ": " << RecordError;
        if (!read && test.Refusal != nullptr)
        {
            EXPECT_EQ(RecordErrorLine, test.RefusedAt) << "row " << row;
            EXPECT_NE(std::string(RecordError).find(test.Refusal), std::string::npos)
                << "row " << row << ": " << RecordError;
        }
        for (const auto& [address, value] : test.Bytes)
        {
            EXPECT_EQ(ImageBuffer[address], value) << "row " << row << " at " << address;
        }
    }
}
