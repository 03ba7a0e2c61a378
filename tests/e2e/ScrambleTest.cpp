// orbelt-scramble through its binary: the file it writes loads in orbelt-dl as the plain data.
#include "image/Image.h"
#include "tests/support/Files.h"
#include "tests/support/Process.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace
{

class ScrambleTest : public ::testing::Test
{
  protected:
    CProcessResult Scramble(const std::vector<std::string>& arguments)
    {
        std::vector<std::string> argv{ORBELT_SCRAMBLE_PATH};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return RunProcess(argv);
    }

    std::vector<uint8_t> Plain(size_t length)
    {
        std::vector<uint8_t> bytes(length);
        for (size_t i = 0; i < length; ++i)
        {
            bytes[i] = static_cast<uint8_t>(i * 31 + (i >> 9));
        }
        return bytes;
    }

    CTempDirectory Files;
};

} // namespace

TEST_F(ScrambleTest, ImageLoadsBackAsThePlainBinary)
{
    std::vector<uint8_t> plain = Plain(5000);
    ASSERT_TRUE(WriteFileBytes(Files.File("plain.bin"), plain));
    CProcessResult result = Scramble({Files.File("plain.bin"), Files.File("image.img")});
    ASSERT_TRUE(result.ExitedWith(0)) << result.Describe();
    EXPECT_EQ(result.Out, "");

    std::vector<uint8_t> image = ReadFileBytes(Files.File("image.img"));
    ASSERT_EQ(image.size(), plain.size());
    for (size_t i = 0; i < plain.size(); ++i)
    {
        ASSERT_EQ(image[i], plain[i] ^ ImageKey[i % 32]) << i;
    }
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(LoadImage(Files.File("image.img").c_str()));
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(ImageLength, 5000);
    EXPECT_EQ(0, memcmp(ImageBuffer, plain.data(), plain.size()));
}

TEST_F(ScrambleTest, SameCommandTurnsAnImageBack)
{
    std::vector<uint8_t> plain = Plain(131072);
    ASSERT_TRUE(WriteFileBytes(Files.File("plain.bin"), plain));
    ASSERT_TRUE(Scramble({Files.File("plain.bin"), Files.File("image.img")}).ExitedWith(0));
    ASSERT_TRUE(Scramble({Files.File("image.img"), Files.File("again.bin")}).ExitedWith(0));
    EXPECT_TRUE(ReadFileBytes(Files.File("again.bin")) == plain);
}

TEST_F(ScrambleTest, OversizeInputNeedsForce)
{
    std::vector<uint8_t> plain = Plain(131073);
    ASSERT_TRUE(WriteFileBytes(Files.File("big.bin"), plain));
    CProcessResult refused = Scramble({Files.File("big.bin"), Files.File("big.img")});
    EXPECT_TRUE(refused.ExitedWith(1)) << refused.Describe();
    EXPECT_NE(refused.Err.find("larger than 131072 bytes"), std::string::npos) << refused.Err;
    struct stat status;
    EXPECT_NE(stat(Files.File("big.img").c_str(), &status), 0) << "nothing written";

    CProcessResult forced = Scramble({"--force", Files.File("big.bin"), Files.File("big.img")});
    EXPECT_TRUE(forced.ExitedWith(0)) << forced.Describe();
    std::vector<uint8_t> image = ReadFileBytes(Files.File("big.img"));
    ASSERT_EQ(image.size(), plain.size());
    EXPECT_EQ(image[131072], plain[131072] ^ ImageKey[0]);
}

TEST_F(ScrambleTest, FailuresSayWhatIsWrong)
{
    ASSERT_TRUE(WriteFileBytes(Files.File("plain.bin"), Plain(10)));
    struct Case
    {
        std::vector<std::string> Arguments;
        int ExitCode;
        std::string Message;
    };
    const Case cases[] = {
        {{Files.File("missing.bin"), Files.File("out.img")}, 1, "cannot read"},
        {{Files.File("plain.bin"), Files.File("no/such/dir/out.img")}, 1, "cannot write"},
        {{Files.File("plain.bin"), Files.File("plain.bin")}, 1, "different files"},
        {{Files.File("plain.bin")}, 2, "usage: orbelt-scramble"},
        {{"a", "b", "c"}, 2, "usage: orbelt-scramble"},
        {{"--frobnicate", "a", "b"}, 2, "unknown option --frobnicate"},
    };
    for (const Case& test : cases)
    {
        CProcessResult result = Scramble(test.Arguments);
        EXPECT_TRUE(result.ExitedWith(test.ExitCode)) << result.Describe();
        EXPECT_NE(result.Err.find(test.Message), std::string::npos) << result.Err;
    }
    EXPECT_TRUE(ReadFileBytes(Files.File("plain.bin")) == Plain(10)) << "input left intact";
}

TEST_F(ScrambleTest, HelpPrintsUsage)
{
    for (const char* option : {"-h", "--help"})
    {
        CProcessResult result = Scramble({option});
        EXPECT_TRUE(result.ExitedWith(0));
        EXPECT_EQ(result.Out.rfind("usage: orbelt-scramble [--force] INPUT OUTPUT\n", 0), 0u)
            << result.Out;
    }
}
