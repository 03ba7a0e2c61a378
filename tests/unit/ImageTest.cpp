// Image loading and the key, through LoadImage on real files.
#include "image/Image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace
{

class ImageLoading : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        Folder = fs::temp_directory_path() / (std::string("orbelt-image-") + test->name());
        fs::remove_all(Folder);
        fs::create_directories(Folder);
    }
    void TearDown() override { fs::remove_all(Folder); }

    std::string WriteFile(const std::string& name, const std::vector<unsigned char>& bytes)
    {
        fs::path path = Folder / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }

    // Captures what LoadImage prints, through a temporary file standing in for stdout.
    bool LoadCapturing(const std::string& path, std::string& printed)
    {
        ::testing::internal::CaptureStdout();
        bool loaded = LoadImage(path.c_str());
        printed = ::testing::internal::GetCapturedStdout();
        return loaded;
    }

    fs::path Folder;
};

std::vector<unsigned char> Pattern(size_t length)
{
    std::vector<unsigned char> bytes(length);
    for (size_t i = 0; i < length; ++i)
    {
        bytes[i] = static_cast<unsigned char>(i * 7 + i / 251);
    }
    return bytes;
}

void ExpectKeyPatternFrom(size_t start)
{
    for (size_t i = start; i < sizeof ImageBuffer; ++i)
    {
        ASSERT_EQ(ImageBuffer[i], ImageKey[i % 32]) << "at " << i;
    }
}

} // namespace

TEST(ImageKeyTest, IsNotTrivial)
{
    int distinct = 0;
    for (int i = 0; i < ImageKeyLength; ++i)
    {
        distinct += ImageKey[i] != ImageKey[0] ? 1 : 0;
        EXPECT_NE(ImageKey[i], 0) << "key byte " << i;
    }
    EXPECT_GT(distinct, 16);
}

TEST(ImageKeyTest, DescramblingTwiceRestoresTheBuffer)
{
    std::vector<unsigned char> plain = Pattern(sizeof ImageBuffer);
    std::copy(plain.begin(), plain.end(), ImageBuffer);
    DescrambleImage();
    EXPECT_NE(0, memcmp(ImageBuffer, plain.data(), plain.size()));
    DescrambleImage();
    EXPECT_EQ(0, memcmp(ImageBuffer, plain.data(), plain.size()));
}

TEST(ImageKeyTest, KeyRestartsAtEveryChunkStart)
{
    // The scrambler works in chunks; each must start with key byte 0.
    unsigned char zeros[70] = {};
    ApplyImageKey(zeros, sizeof zeros);
    for (size_t i = 0; i < sizeof zeros; ++i)
    {
        EXPECT_EQ(zeros[i], ImageKey[i % 32]);
    }
}

// Written out, not computed with ImageKey: a changed key byte would make every image file in
// the field unreadable while passing every test that scrambles with the key itself.
TEST_F(ImageLoading, KnownImageFileLoadsAsItsPlainText)
{
    const std::string plain = "The quick brown fox jumps over the lazy dog";
    const std::vector<unsigned char> scrambled = {
        0x0E, 0xAB, 0x72, 0xAE, 0x58, 0x81, 0x02, 0xB3, 0x57, 0xB1, 0x85, 0x30, 0xD7, 0x7A, 0x18,
        0x8F, 0x75, 0x01, 0xA1, 0x04, 0xEF, 0x8F, 0x22, 0xC2, 0x14, 0x2C, 0xCE, 0x4E, 0xBB, 0x21,
        0xBB, 0x94, 0x32, 0xA6, 0x37, 0xE2, 0x48, 0x8E, 0x12, 0xF0, 0x58, 0xFE, 0x80};
    std::string printed;
    ASSERT_TRUE(LoadCapturing(WriteFile("fox.img", scrambled), printed)) << printed;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(ImageBuffer), ImageLength), plain);
}

TEST_F(ImageLoading, FortyZeroBytesGiveTheKeyPatternEverywhere)
{
    std::string printed;
    ASSERT_TRUE(LoadCapturing(WriteFile("zeros.bin", std::vector<unsigned char>(40, 0)), printed));
    EXPECT_EQ(printed, "");
    EXPECT_EQ(ImageLength, 40);
    ExpectKeyPatternFrom(0);
}

TEST_F(ImageLoading, ScrambledFileLoadsAsThePlainImage)
{
    std::vector<unsigned char> plain = Pattern(1000);
    std::vector<unsigned char> scrambled = plain;
    ApplyImageKey(scrambled.data(), scrambled.size());
    std::string printed;
    ASSERT_TRUE(LoadCapturing(WriteFile("image.bin", scrambled), printed));
    EXPECT_EQ(ImageLength, 1000);
    EXPECT_EQ(0, memcmp(ImageBuffer, plain.data(), plain.size()));
    ExpectKeyPatternFrom(1000);
}

TEST_F(ImageLoading, EmptyFileIsRefused)
{
    for (const std::string& path : {WriteFile("empty.bin", {}), std::string("/dev/null")})
    {
        ImageLength = 77;
        std::string printed;
        EXPECT_FALSE(LoadCapturing(path, printed)) << path;
        EXPECT_EQ(printed, "Empty image file\n") << path;
        EXPECT_EQ(ImageLength, 77) << "left as it was";
    }
}

TEST_F(ImageLoading, ExactCapacityLoadsWhole)
{
    std::vector<unsigned char> plain = Pattern(ImageCapacity);
    std::vector<unsigned char> scrambled = plain;
    ApplyImageKey(scrambled.data(), scrambled.size());
    std::string printed;
    const std::string path = WriteFile("full.bin", scrambled);
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(LoadCapturing(path, printed));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(ImageLength, ImageCapacity);
    EXPECT_EQ(0, memcmp(ImageBuffer, plain.data(), plain.size()));
}

// Standard output stays as it was; standard error says what was cut.
TEST_F(ImageLoading, OversizeFileIsCutWithAWordOnStandardError)
{
    std::vector<unsigned char> scrambled = Pattern(ImageCapacity + 1);
    std::string printed;
    const std::string path = WriteFile("over.bin", scrambled);
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(LoadCapturing(path, printed));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "orbelt-dl: image " + path +
                  " is larger than 131072 bytes: only the first 131072 bytes are used\n");
    EXPECT_EQ(printed, "");
    EXPECT_EQ(ImageLength, ImageCapacity);
    EXPECT_EQ(ImageBuffer[ImageCapacity - 1],
              static_cast<unsigned char>(scrambled[ImageCapacity - 1] ^ ImageKey[31]));
}

TEST_F(ImageLoading, MissingFileOrDirectoryIsNotFound)
{
    for (const fs::path& path : {Folder / "missing.bin", Folder})
    {
        ImageLength = 55;
        ImageBuffer[5] = 0x99;
        std::string printed;
        EXPECT_FALSE(LoadCapturing(path.string(), printed)) << path;
        EXPECT_EQ(printed, "File not found\n") << path;
        EXPECT_EQ(ImageLength, 55) << "left as it was";
        EXPECT_EQ(ImageBuffer[5], 0) << "buffer zero-filled";
    }
}
