// The pieces of per-board serial numbers: SHA-256, the number formats and the counter file.
#include "image/Sha256.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace
{

std::string Hex(const unsigned char* bytes, size_t length)
{
    std::string text;
    char pair[3];
    for (size_t i = 0; i < length; ++i)
    {
        snprintf(pair, sizeof pair, "%02x", bytes[i]);
        text += pair;
    }
    return text;
}

} // namespace

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
        EXPECT_EQ(Hex(digest, sizeof digest), vector.Digest) << vector.Message.size() << " bytes";
        char text[2 * Sha256DigestLength + 1];
        Sha256Text(bytes, vector.Message.size(), text);
        EXPECT_STREQ(text, vector.Digest);
    }
}

