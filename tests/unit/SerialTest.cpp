// The pieces of per-board serial numbers: SHA-256, the number formats and the counter file.
#include "app/CounterFile.h"
#include "image/SerialFormat.h"
#include "image/Sha256.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

// The test vectors of FIPS 180-4's examples, each fed in pieces of uneven lengths.
TEST(Sha256Test, StandardVectors)
{
    const struct
    {
        std::string Message;
        const char* Digest;
    } vectors[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    const size_t pieces[] = {1, 63, 64, 65, 997, 3};
    for (const auto& vector : vectors)
    {
        const auto* bytes = reinterpret_cast<const unsigned char*>(vector.Message.data());
        CSha256 hash;
        StartSha256(hash);
        for (size_t at = 0, i = 0; at < vector.Message.size(); ++i)
        {
            size_t length = std::min(pieces[i % 6], vector.Message.size() - at);
            AddToSha256(hash, bytes + at, length);
            at += length;
        }
        unsigned char digest[Sha256DigestLength];
        FinishSha256(hash, digest);
        char text[2 * Sha256DigestLength + 1];
        Sha256Hex(digest, text);
        EXPECT_STREQ(text, vector.Digest) << vector.Message.size() << " bytes";
    }
}

// Each name, the bytes a number gives, or that it does not fit; names that are no format.
TEST(SerialFormatTest, NamesWidthsAndBytes)
{
    const struct
    {
        const char* Name;
        uint64_t Number;
        const char* Bytes; // nullptr: too large for the format
    } rows[] = {
        {"le32", 0x12345678, "\x78\x56\x34\x12"},
        {"be32", 0x12345678, "\x12\x34\x56\x78"},
        {"le16", 0xBEEF, "\xEF\xBE"},
        {"be16", 0xBEEF, "\xBE\xEF"},
        {"le16", 0x10000, nullptr},
        {"be32", 0x100000000, nullptr},
        {"le64", 0x0102030405060708, "\x08\x07\x06\x05\x04\x03\x02\x01"},
        {"be64", UINT64_MAX, "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF"},
        {"dec6", 1000, "001000"},
        {"dec1", 9, "9"},
        {"dec3", 1000, nullptr},
        {"dec20", UINT64_MAX, "18446744073709551615"},
    };
    for (const auto& row : rows)
    {
        CSerialFormat format = {};
        ASSERT_TRUE(ParseSerialFormat(row.Name, format)) << row.Name;
        EXPECT_EQ(SerialFits(format, row.Number), row.Bytes != nullptr) << row.Name;
        if (row.Bytes == nullptr)
        {
            continue;
        }
        unsigned char field[24] = {};
        WriteSerial(format, row.Number, field);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(field), format.Width), row.Bytes) << row.Name;
        uint64_t read = 0;
        EXPECT_TRUE(ReadSerial(format, field, read) && read == row.Number) << row.Name;
    }
    for (const char* name : {"", "le24", "LE32", "le", "dec", "dec0", "dec01", "dec21", "dec1x"})
    {
        CSerialFormat format = {};
        EXPECT_FALSE(ParseSerialFormat(name, format)) << name;
    }
    const unsigned char notDigits[] = "12 4";
    uint64_t read = 0;
    EXPECT_FALSE(ReadSerial({DecimalDigits, 4}, notDigits, read));
}

// What TakeNextNumber makes of a counter file, and what it leaves in it: the whole first line is
// the number, padded or not, or the file is refused unchanged; the second keeps the first number
// handed out; a read-only file (also for root) is never advanced; a temporary file that a killed
// run left beside it is cleared.
TEST(CounterFileTest, TakesTheFirstLineOrSaysWhyNot)
{
    const fs::path folder = fs::temp_directory_path() / "orbelt-counter-unit";
    fs::remove_all(folder);
    fs::create_directories(folder / "directory");
    std::error_code ignored;
    const std::string padded = std::string(62, ' ') + "1234567\n";
    const std::string overlong = std::string(70000, ' ') + "5\n";
    const struct
    {
        const char* Content; // nullptr: no such file
        ECounterStatus Status;
        uint64_t Number;
        const char* After; // the file afterwards
        bool ReadOnly = false;
    } rows[] = {
        {nullptr, CounterMissing, 0, nullptr},
        {"twelve\n", CounterNotANumber, 0, "twelve\n"},
        {"12 13\n", CounterNotANumber, 0, "12 13\n"},
        {"", CounterEmpty, 0, ""},
        {" \r\n7\n", CounterEmpty, 0, " \r\n7\n"},
        {"-5\n", CounterNegative, 0, "-5\n"},
        {"18446744073709551615\n", CounterTooLarge, 0, "18446744073709551615\n"},
        {"99999999999999999999999\n", CounterTooLarge, 0, "99999999999999999999999\n"},
        {"1000\n", CounterOk, 1000, "1001\nfirst 1000\n"},
        {"\t 0041 \r\nnotes\n", CounterOk, 41, "42\nfirst 41\n"},
        {"18446744073709551614", CounterOk, 18446744073709551614u,
         "18446744073709551615\nfirst 18446744073709551614\n"},
        {padded.c_str(), CounterOk, 1234567, "1234568\nfirst 1234567\n"},
        {overlong.c_str(), CounterNotANumber, 0, overlong.c_str()},
        {"1004\nfirst 1000\n", CounterOk, 1004, "1005\nfirst 1000\n"},
        {"500\nfirst 1000\n", CounterBelowFirst, 0, "500\nfirst 1000\n"},
        {"1000\n", CounterReadOnly, 0, "1000\n", true},
    };
    int row = 0;
    for (const auto& each : rows)
    {
        const fs::path path = folder / ("counter" + std::to_string(++row));
        const fs::path stale = path.string() + ".tmp";
        std::ofstream(stale, std::ios::binary) << "left by a killed run";
        if (each.Content != nullptr)
        {
            std::ofstream(path, std::ios::binary) << each.Content;
        }
        if (each.ReadOnly)
        {
            fs::permissions(
                path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                fs::perm_options::remove);
        }
        uint64_t number = 0;
        EXPECT_EQ(TakeNextNumber(path.string().c_str(), number), each.Status) << row;
        EXPECT_EQ(number, each.Number) << row;
        std::stringstream after;
        after << std::ifstream(path, std::ios::binary).rdbuf();
        EXPECT_EQ(fs::exists(path) ? after.str() : "(none)", each.After ? each.After : "(none)")
            << row;
        EXPECT_EQ(fs::exists(stale), each.Status != CounterOk) << row;
        // Windows removes no read-only file.
        fs::permissions(path, fs::perms::owner_write, fs::perm_options::add, ignored);
    }
    uint64_t number = 0;
    EXPECT_EQ(TakeNextNumber((folder / "directory").string().c_str(), number), CounterUnreadable);
    fs::remove_all(folder);
}
