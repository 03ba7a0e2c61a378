// orbelt-scramble through its binary: the file it writes loads in orbelt-dl as the plain data.
#include "image/Image.h"
#include "tests/support/Files.h"
#include "tests/support/Process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

std::string HexRecord(int type, unsigned address, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> bytes{static_cast<uint8_t>(data.size()),
                               static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address),
                               static_cast<uint8_t>(type)};
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    std::string line = ":";
    char digits[3];
    for (uint8_t byte : bytes)
    {
        sum += byte;
        snprintf(digits, sizeof digits, "%02X", byte);
        line += digits;
    }
    snprintf(digits, sizeof digits, "%02X", (0x100 - sum % 0x100) % 0x100);
    return line + digits + "\n";
}

// S1, S5 and S9 carry a 16-bit address, S2 a 24-bit one.
std::string SRecord(int type, unsigned address, const std::vector<uint8_t>& data)
{
    int addressLength = type == 2 ? 3 : 2;
    std::vector<uint8_t> bytes{static_cast<uint8_t>(addressLength + data.size() + 1)};
    for (int shift = 8 * (addressLength - 1); shift >= 0; shift -= 8)
    {
        bytes.push_back(static_cast<uint8_t>(address >> shift));
    }
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    std::string line = "S" + std::to_string(type);
    char digits[3];
    for (uint8_t byte : bytes)
    {
        sum += byte;
        snprintf(digits, sizeof digits, "%02X", byte);
        line += digits;
    }
    snprintf(digits, sizeof digits, "%02X", ~sum & 0xFF);
    return line + digits + "\r\n";
}

std::vector<std::string> DirectoryEntries(const std::string& path)
{
    std::vector<std::string> names;
    DIR* directory = opendir(path.c_str());
    while (dirent* entry = directory != nullptr ? readdir(directory) : nullptr)
    {
        if (entry->d_name[0] != '.')
        {
            names.push_back(entry->d_name);
        }
    }
    if (directory != nullptr)
    {
        closedir(directory);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The text of the link at path; empty when path is no link.
std::string LinkText(const std::string& path)
{
    char text[4096];
    ssize_t length = readlink(path.c_str(), text, sizeof text);
    return length < 0 ? std::string() : std::string(text, static_cast<size_t>(length));
}

unsigned PermissionBits(const std::string& path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

bool HoldsTemporaryFile(const std::string& directory)
{
    DIR* listing = opendir(directory.c_str());
    bool found = false;
    while (dirent* entry = listing != nullptr ? readdir(listing) : nullptr)
    {
        found = found || strstr(entry->d_name, ".tmp") != nullptr;
    }
    if (listing != nullptr)
    {
        closedir(listing);
    }
    return found;
}

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

    // The image file orbelt-scramble writes for this plain image.
    static std::vector<uint8_t> Scrambled(std::vector<uint8_t> plain)
    {
        ApplyImageKey(plain.data(), plain.size());
        return plain;
    }

    void ExpectRefused(const std::vector<std::string>& arguments, const std::string& message)
    {
        CProcessResult result = Scramble(arguments);
        EXPECT_TRUE(result.ExitedWith(1)) << result.Describe();
        EXPECT_EQ(result.Err, message);
        EXPECT_FALSE(FileExists(Files.File("out.img"))) << "no output";
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
        {{Files.File("plain.bin"), Files.Path() + "/./plain.bin"}, 1, "different files"},
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
        EXPECT_EQ(
            result.Out.rfind(
                "usage: orbelt-scramble [--force] [--fill BYTE] [--binary] INPUT OUTPUT\n", 0),
            0u)
            << result.Out;
        EXPECT_NE(result.Out.find("  --fill BYTE"), std::string::npos);
    }
    CProcessResult version = Scramble({"--version"});
    EXPECT_TRUE(version.ExitedWith(0));
    EXPECT_EQ(version.Out, "orbelt-scramble " ORBELT_VERSION "\n");
}

TEST_F(ScrambleTest, FailedWriteKeepsTheOldOutputAndSaysWhy)
{
    ASSERT_TRUE(WriteFileBytes(Files.File("plain.bin"), Plain(100000)));
    ASSERT_TRUE(WriteFileText(Files.File("out.img"), "old image"));
    // A file size limit of 8 KiB: the write past it fails with EFBIG, and SIGXFSZ, which would
    // end the program, is ignored by orbelt-scramble itself.
    CProcessResult result =
        RunProcess({"/bin/sh", "-c", "ulimit -f 16; exec \"$0\" \"$@\"", ORBELT_SCRAMBLE_PATH,
                    Files.File("plain.bin"), Files.File("out.img")});
    EXPECT_TRUE(result.ExitedWith(1)) << result.Describe();
    EXPECT_EQ(result.Err,
              "orbelt-scramble: cannot write " + Files.File("out.img") + ": File too large\n");
    EXPECT_EQ(ReadFileText(Files.File("out.img")), "old image");
    EXPECT_EQ(DirectoryEntries(Files.Path()), (std::vector<std::string>{"out.img", "plain.bin"}))
        << "no temporary file left";
}

TEST_F(ScrambleTest, DirectoryInputLeavesTheOutputAlone)
{
    ASSERT_EQ(mkdir(Files.File("dir").c_str(), 0755), 0);
    ASSERT_TRUE(WriteFileText(Files.File("keep.img"), "keep"));
    CProcessResult result = Scramble({"--force", Files.File("dir"), Files.File("keep.img")});
    EXPECT_TRUE(result.ExitedWith(1)) << result.Describe();
    EXPECT_EQ(result.Err,
              "orbelt-scramble: cannot read " + Files.File("dir") + ": Is a directory\n");
    EXPECT_EQ(ReadFileText(Files.File("keep.img")), "keep");
}

TEST_F(ScrambleTest, PipeIsHeldToTheLimit)
{
    CProcessOptions options;
    options.Stdin = EStdin::Text;
    options.StdinText.assign(131073, 'x');
    CProcessResult result =
        RunProcess({ORBELT_SCRAMBLE_PATH, "/dev/stdin", Files.File("out.img")}, options);
    EXPECT_TRUE(result.ExitedWith(1)) << result.Describe();
    EXPECT_NE(result.Err.find("/dev/stdin is larger than 131072 bytes"), std::string::npos);
    EXPECT_FALSE(FileExists(Files.File("out.img")));
}

TEST_F(ScrambleTest, IntelHexGapsHoldTheErasedValue)
{
    // Data at 0x00010, and at 0x10100 through an extended linear address.
    ASSERT_TRUE(WriteFileText(Files.File("in.hex"),
                              HexRecord(0, 0x0010, {1, 2, 3}) + HexRecord(4, 0, {0x00, 0x01}) +
                                  HexRecord(0, 0x0100, {0xAA, 0xBB}) +
                                  HexRecord(5, 0, {0, 0, 0, 0}) + HexRecord(1, 0, {})));
    CProcessResult result = Scramble({Files.File("in.hex"), Files.File("out.img")});
    ASSERT_TRUE(result.ExitedWith(0)) << result.Describe();
    std::vector<uint8_t> plain(0x10102, 0xFF);
    plain[0x10] = 1, plain[0x11] = 2, plain[0x12] = 3, plain[0x10100] = 0xAA, plain[0x10101] = 0xBB;
    EXPECT_TRUE(ReadFileBytes(Files.File("out.img")) == Scrambled(plain));
}

TEST_F(ScrambleTest, SRecordGapsHoldTheFillValue)
{
    ASSERT_TRUE(WriteFileText(Files.File("in.s19"), SRecord(0, 0, {'h', 'd', 'r'}) +
                                                        SRecord(1, 0x0002, {7, 8}) +
                                                        SRecord(2, 0x1FFFE, {9, 10}) +
                                                        SRecord(5, 2, {}) + SRecord(9, 0, {})));
    CProcessResult result =
        Scramble({"--fill", "0x5A", Files.File("in.s19"), Files.File("out.img")});
    ASSERT_TRUE(result.ExitedWith(0)) << result.Describe();
    std::vector<uint8_t> plain(131072, 0x5A);
    plain[2] = 7, plain[3] = 8, plain[0x1FFFE] = 9, plain[0x1FFFF] = 10;
    EXPECT_TRUE(ReadFileBytes(Files.File("out.img")) == Scrambled(plain));
}

TEST_F(ScrambleTest, BadRecordsAreRefusedByLine)
{
    std::string badChecksum = HexRecord(0, 0x0000, {1, 2});
    badChecksum[badChecksum.size() - 2] ^= 1;
    ASSERT_TRUE(WriteFileText(Files.File("bad.hex"), HexRecord(0, 0x0000, {1}) + "\n" +
                                                         badChecksum + HexRecord(1, 0, {})));
    ExpectRefused({Files.File("bad.hex"), Files.File("out.img")},
                  "orbelt-scramble: " + Files.File("bad.hex") +
                      ": line 3: bad checksum 0xFC (0xFB expected)\n");

    ASSERT_TRUE(
        WriteFileText(Files.File("far.s19"),
                      SRecord(1, 0, {1}) + SRecord(2, 0x1FFFF, {1, 2}) + SRecord(9, 0, {})));
    ExpectRefused({"--force", Files.File("far.s19"), Files.File("out.img")},
                  "orbelt-scramble: " + Files.File("far.s19") +
                      ": line 2: address 0x20000 is past the end of the flash (0x20000 bytes)\n");
}

// A record file whose first line is damaged is refused by that line, not scrambled as a binary
// (its text would reach the flash); --binary takes any file as it is.
TEST_F(ScrambleTest, DamagedFirstRecordIsRefusedUnlessBinaryIsAsked)
{
    std::string damaged = HexRecord(0, 0x0010, {1, 2, 3});
    damaged.erase(damaged.size() - 2, 1); // the first line loses its last digit
    ASSERT_TRUE(WriteFileText(Files.File("fw.bin"), damaged + HexRecord(1, 0, {})));
    ExpectRefused({Files.File("fw.bin"), Files.File("out.img")},
                  "orbelt-scramble: " + Files.File("fw.bin") +
                      ": line 1: an odd number of hex digits (15)\n");

    CProcessResult binary = Scramble({"--binary", Files.File("fw.bin"), Files.File("out.img")});
    ASSERT_TRUE(binary.ExitedWith(0)) << binary.Describe();
    EXPECT_TRUE(ReadFileBytes(Files.File("out.img")) ==
                Scrambled(ReadFileBytes(Files.File("fw.bin"))));
}

TEST_F(ScrambleTest, BinaryThatStartsLikeARecordStaysBinary)
{
    const std::vector<uint8_t> plain{':', '0', '0', 0x00, 0xFF, '\n', 'S', '1'};
    ASSERT_TRUE(WriteFileBytes(Files.File("plain.bin"), plain));
    CProcessResult result = Scramble({Files.File("plain.bin"), Files.File("out.img")});
    ASSERT_TRUE(result.ExitedWith(0)) << result.Describe();
    EXPECT_TRUE(ReadFileBytes(Files.File("out.img")) == Scrambled(plain));
}

// The bytes go where OUTPUT leads: through the open descriptor it names (the shell's redirect
// gets them), or into the final target of its links, which stay links. A replaced file keeps
// its mode. The tests run as root, where a rename over /dev/stdout would break it for all.
TEST_F(ScrambleTest, OutputGoesWhereItsPathLeads)
{
    std::vector<uint8_t> plain = Plain(3000);
    ASSERT_TRUE(WriteFileBytes(Files.File("plain.bin"), plain));
    ASSERT_EQ(symlink("/proc/self/fd/1", Files.File("descriptor-link").c_str()), 0);
    ASSERT_EQ(symlink("target.img", Files.File("file-link").c_str()), 0);
    const std::string redirect = Files.File("redirect.out");
    const std::string longName = Files.File(std::string(255, 'n'));
    struct Case
    {
        std::string Output;
        std::string Holder; // the file that gets the image
    };
    const Case cases[] = {
        {"/dev/stdout", redirect},
        {Files.File("descriptor-link"), redirect},
        {Files.File("file-link"), Files.File("target.img")},
        {longName, longName},
    };
    for (const Case& test : cases)
    {
        std::string linkText = LinkText(test.Output);
        ASSERT_TRUE(WriteFileText(test.Holder, "old"));
        ASSERT_EQ(chmod(test.Holder.c_str(), 0604), 0);
        CProcessResult result =
            RunProcess({"/bin/sh", "-c", "exec \"$0\" \"$1\" \"$2\" > \"$3\"", ORBELT_SCRAMBLE_PATH,
                        Files.File("plain.bin"), test.Output, redirect});
        EXPECT_TRUE(result.ExitedWith(0)) << test.Output << ": " << result.Describe();
        EXPECT_TRUE(ReadFileBytes(test.Holder) == Scrambled(plain)) << test.Output;
        EXPECT_EQ(PermissionBits(test.Holder), 0604u) << test.Output;
        EXPECT_EQ(LinkText(test.Output), linkText) << test.Output;
        EXPECT_FALSE(HoldsTemporaryFile(Files.Path()));
        EXPECT_FALSE(HoldsTemporaryFile("/dev"));
    }
}
