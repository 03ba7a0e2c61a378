// The operator's other jobs end to end: reading the flash back into a file, erasing it, and the
// files a run writes (the read-back, the run record), checked before the board is touched.
#include "tests/e2e/DownloadFixture.h"

#include <filesystem>
#include <unistd.h>

TEST_F(DownloadTest, ReadBackIsTheImageFileOfTheFlash)
{
    std::vector<uint8_t> plain = PlainImage(4000, 3);
    ASSERT_TRUE(Board.Start(Programmed(plain)));
    std::string whole = Files.File("whole.img");
    std::string part = Files.File("part.img");
    CProcessResult wholeRun = RunDownloader({"--read", whole, "-p", "7"}, Board.Device());
    CProcessResult partRun =
        RunDownloader({"-p", "7", "--read", part, "--size", "100"}, Board.Device());
    ASSERT_TRUE(Board.Stop()) << Board.Stderr();

    const std::string saved =
        "Time  <t>\n" + OkEndingWith("Flash saved, press any key to continue");
    EXPECT_TRUE(wholeRun.ExitedWith(1)) << wholeRun.Describe();
    EXPECT_EQ(ConsoleBody(wholeRun.Out), StageLine("Read", 131072) + saved);
    EXPECT_EQ(ConsoleBody(partRun.Out), StageLine("Read", 100) + saved);
    ASSERT_TRUE(WriteImageFile(Files.File("expected.img"), FlashAfterDownload(plain)));
    EXPECT_TRUE(ReadFileBytes(whole) == ReadFileBytes(Files.File("expected.img")));
    ASSERT_TRUE(WriteImageFile(Files.File("expected100.img"),
                               std::vector<uint8_t>(plain.begin(), plain.begin() + 100)));
    EXPECT_TRUE(ReadFileBytes(part) == ReadFileBytes(Files.File("expected100.img")));
    // Read frames only, whole blocks, from address 0: the flash is never written.
    std::vector<CBoardFrame> frames = Board.TraceFrames();
    ASSERT_EQ(frames.size(), 131072u + 128);
    for (size_t i = 0; i < frames.size(); ++i)
    {
        ASSERT_TRUE(frames[i] == Frame(0x00, static_cast<uint32_t>(i % 131072), 0)) << i;
    }
}

// --read /dev/stdout with standard output redirected to a file: the image goes through the
// descriptor, between the console's time line and its banner, and /dev/stdout stays a link (the
// tests run as root, where a rename over it would break it for every process).
TEST_F(DownloadTest, ReadBackToStandardOutputGoesThroughTheDescriptor)
{
    std::vector<uint8_t> plain = PlainImage(100, 5);
    ASSERT_TRUE(Board.Start(Programmed(plain)));
    const std::string captured = Files.File("captured.out");
    CProcessOptions options;
    options.Environment.push_back("ORBELT_COM7=" + Board.Device());
    CProcessResult result =
        RunProcess({"/bin/sh", "-c", "exec \"$0\" -p 7 --read /dev/stdout --size 100 > \"$1\"",
                    ORBELT_DL_PATH, captured},
                   options);
    ASSERT_TRUE(Board.Stop()) << Board.Stderr();
    EXPECT_TRUE(result.ExitedWith(1)) << result.Describe();
    ASSERT_TRUE(WriteImageFile(Files.File("expected.img"), plain));
    EXPECT_EQ(ConsoleBody(ReadFileText(captured)),
              StageLine("Read", 100) + "Time  <t>\n" + ReadFileText(Files.File("expected.img")) +
                  OkEndingWith("Flash saved, press any key to continue"));
    char link[64] = {};
    EXPECT_GT(readlink("/dev/stdout", link, sizeof link - 1), 0) << "/dev/stdout is no link";
}

TEST_F(DownloadTest, ReadFromABoardThatStopsAnsweringLeavesNoFile)
{
    std::string back = Files.File("back.img");
    CProcessResult result = Run({"--stop-after", "200"}, {"-p", "7", "--read", back});
    EXPECT_EQ(ConsoleBody(result.Out),
              StageUpTo("Read", 131072, 3) + ErrorMarker + "Time  <t>\n" + NgEnding);
    EXPECT_FALSE(FileExists(back));
    EXPECT_TRUE(std::filesystem::is_empty(Files.Path())) << "a temporary file was left";
}

// A file the run cannot write is found before the board is touched, not after a whole read
// or download.
TEST_F(DownloadTest, FilesThatCannotBeWrittenAreRefusedBeforeTheBoardIsTouched)
{
    const std::string folder = Files.Path();
    const std::string missing = Files.File("missing") + "/file";
    const std::string image = Image(PlainImage(100));
    const struct
    {
        std::vector<std::string> Arguments;
        std::string Diagnostic;
    } cases[] = {
        {{"--read", folder}, "cannot write " + folder + ": Is a directory"},
        {{"--read", missing}, "cannot write " + missing + ": No such file or directory"},
        {{"-v", image, "--result", folder},
         "cannot append the run record to " + folder + ": Is a directory"},
        {{"-v", image, "--result", missing},
         "cannot append the run record to " + missing + ": No such file or directory"},
    };
    ASSERT_TRUE(Board.Start(FastErase));
    for (const auto& row : cases)
    {
        std::vector<std::string> arguments = {"-p", "7"};
        arguments.insert(arguments.end(), row.Arguments.begin(), row.Arguments.end());
        CProcessResult result = RunDownloader(arguments, Board.Device(), 7, 10);
        EXPECT_TRUE(result.ExitedWith(1)) << result.Describe();
        EXPECT_EQ(ConsoleBody(result.Out), NgEnding) << row.Diagnostic;
        EXPECT_EQ(result.Err, "orbelt-dl: " + row.Diagnostic + "\n");
    }
    ASSERT_TRUE(Board.Stop()) << Board.Stderr();
    EXPECT_TRUE(Board.Trace().empty());
}

// A file-size limit makes the write fail instead of killing the program: the Save stage is NG,
// the record says why, and no temporary file is left.
TEST_F(DownloadTest, FileSizeLimitEndsAReadNgWithItsRecord)
{
    ASSERT_TRUE(Board.Start(FastErase));
    const std::string back = Files.File("back.img");
    const std::string record = Files.File("runs.jsonl");
    CProcessOptions options;
    options.Environment.push_back("ORBELT_COM7=" + Board.Device());
    CProcessResult result =
        RunProcess({"/bin/sh", "-c", "ulimit -f 16 && exec \"$0\" \"$@\"", ORBELT_DL_PATH, "-p",
                    "7", "--stream", "--size", "65536", "--read", back, "--result", record},
                   options);
    ASSERT_TRUE(Board.Stop()) << Board.Stderr();
    EXPECT_TRUE(result.ExitedWith(1)) << result.Describe();
    EXPECT_EQ(ConsoleBody(result.Out), StageLine("Read", 65536) + "Time  <t>\n" + NgEnding);
    EXPECT_EQ(result.Err, "orbelt-dl: cannot write " + back + ": File too large\n");
    const std::string line = ReadFileText(record);
    EXPECT_NE(line.find("\"failed_stage\":\"Save\",\"reason\":\"cannot write " + back +
                        ": File too large\""),
              std::string::npos)
        << line;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Files.Path()), {}), 1)
        << "only the record is there";
}

TEST_F(DownloadTest, EraseLeavesTheFlashErased)
{
    CProcessResult result =
        Run(Programmed(PlainImage(3000)), {"--erase", "-p", "7", "--no-wait"}, 10, 0);
    EXPECT_EQ(ConsoleBody(result.Out), EraseOkAtFirstPoll + "Time  <t>\n" +
                                           OkEndingWith("Chip erased, press any key to continue"));
    EXPECT_TRUE(Board.Dump() == std::vector<uint8_t>(BoardFlashSize, 0xFF));
    std::vector<CBoardFrame> frames = EraseFrames;
    frames.push_back(Frame(0x00, 0, 0));
    EXPECT_TRUE(Board.TraceFrames() == frames);
}

// --identify through the line: the chip's lines, the verdict by the exit status, and the record.
TEST_F(DownloadTest, IdentifyTellsTheChipAndItsProtectedSectors)
{
    struct CRow
    {
        std::vector<std::string> Board;
        int Status;
        std::string Chip;
        std::string Record;
    };
    const CRow rows[] = {
        {{"--chip", "Am29LV001BT", "--protect", "9"},
         0,
         "Chip      Am29LV001BT (manufacturer 0x01, device 0xED), 128 KiB, 10 sectors\n"
         "protected: sector 9 (0x1E000-0x1FFFF)\n",
         "\"chip_id\":\"01:ED\",\"chip\":\"Am29LV001BT\"}"},
        {{"--no-chip"}, 1, "Chip      no flash chip answered\n", "\"chip_id\":null,\"chip\":null}"},
    };
    for (const CRow& row : rows)
    {
        const std::string record = Files.File("runs.jsonl");
        std::remove(record.c_str());
        CBoardProcess board;
        ASSERT_TRUE(board.Start(row.Board));
        CProcessResult result = RunDownloader(
            {"--identify", "-p", "7", "--no-wait", "--result", record}, board.Device(), 7, 10);
        ASSERT_TRUE(board.Stop()) << board.Stderr();
        EXPECT_TRUE(result.ExitedWith(row.Status)) << result.Describe();
        EXPECT_EQ(ConsoleBody(result.Out),
                  row.Chip + "Time  <t>\n" +
                      (row.Status == 0 ? OkEndingWith("Chip identified, press any key to continue")
                                       : NgEnding));
        EXPECT_NE(ReadFileText(record).find(row.Record), std::string::npos) << ReadFileText(record);
        // The board brought to a known state first (realigned, back to reading its array, two
        // reads to see that no erase runs), then autoselect, the codes twice, the protection,
        // the reset that leaves the chip reading its array, and the codes as the array gives
        // them.
        const std::vector<CBoardFrame> frames = board.TraceFrames();
        const size_t recovery = 2 + 4 + 2;
        EXPECT_EQ(frames.size(), recovery + 3 + 4 + (row.Status == 0 ? 10 : 0) + 1 + 2);
    }
}

// The records of a good run, a failed one and one that found no port, read by a JSON parser;
// the CRC and the SHA-256 of the image file are checked against Python's own.
TEST_F(DownloadTest, ResultLinesAreJson)
{
    std::vector<uint8_t> plain = PlainImage(1000, 9);
    ASSERT_TRUE(WriteFileBytes(Files.File("plain.bin"), plain));
    std::string whole = Image(plain);
    std::string first = Files.File("first.img");
    ASSERT_TRUE(WriteImageFile(first, std::vector<uint8_t>(plain.begin(), plain.begin() + 64)));
    std::string record = Files.File("runs.jsonl");
    ASSERT_TRUE(Board.Start({"--erase-ms", "0", "--bad-cell", "100"}));
    CProcessResult ok =
        RunDownloader({"-v", "-p", "7", first, "--result", record, "--no-wait"}, Board.Device());
    CProcessResult failed =
        RunDownloader({"--result", record, "-p", "7", whole, "--no-wait"}, Board.Device());
    CProcessResult noPort = RunDownloader({"--result", record, "-p", "7", whole}, "/nonexistent");
    ASSERT_TRUE(Board.Stop());
    EXPECT_TRUE(ok.ExitedWith(0)) << ok.Describe();
    EXPECT_TRUE(failed.ExitedWith(1)) << failed.Describe();
    EXPECT_TRUE(noPort.ExitedWith(1)) << noPort.Describe();

    const char* const check = R"(
import datetime, hashlib, json, sys, zlib
plain = open(sys.argv[2], "rb").read()
text = open(sys.argv[1], encoding="utf-8").read()
assert text.endswith("\n")
for line in text.splitlines():
    run = json.loads(line)
    start = datetime.datetime.strptime(run.pop("start"), "%Y-%m-%dT%H:%M:%S.%fZ")
    assert abs(datetime.datetime.utcnow() - start).total_seconds() < 120, start
    elapsed = run.pop("elapsed_seconds")
    assert isinstance(elapsed, float) and 0 <= elapsed < 20, elapsed
    assert run.pop("image_crc32") == "%08x" % zlib.crc32(plain[:run["image_length"]])
    assert run.pop("image_sha256") == hashlib.sha256(open(run["image"], "rb").read()).hexdigest()
    print(json.dumps(run, sort_keys=True))
)";
    CProcessResult parsed =
        RunProcess({"/usr/bin/python3", "-c", check, record, Files.File("plain.bin")});
    ASSERT_TRUE(parsed.ExitedWith(0)) << parsed.Describe();
    // Keys in sorted order: device, failed_stage, image, image_length, mode, port, reason,
    // result, version.
    auto line = [](const std::string& device, const std::string& stage, const std::string& image,
                   int length, const std::string& mode, const std::string& reason,
                   const std::string& result)
    {
        return "{\"device\": \"" + device + "\", \"failed_stage\": " + stage + ", \"image\": \"" +
               image + "\", \"image_length\": " + std::to_string(length) + ", \"mode\": \"" + mode +
               "\", \"port\": 7, \"reason\": " + reason + ", \"result\": \"" + result +
               "\", \"version\": \"" ORBELT_VERSION "\"}\n";
    };
    char reason[80];
    snprintf(reason, sizeof reason,
             "\"program error at 0x000064: third reply byte 0x%02X, expected 0x%02X\"",
             plain[100] ^ 1, plain[100]);
    EXPECT_EQ(parsed.Out,
              line(Board.Device(), "null", first, 64, "program-verify", "null", "OK") +
                  line(Board.Device(), "\"Program\"", whole, 1000, "program", reason, "NG") +
                  line("/nonexistent", "\"Port\"", whole, 1000, "program",
                       "\"cannot open /nonexistent: No such file or directory\"", "NG"));
}

// A program started with standard descriptors closed opens no file onto them: the console
// cannot write into the read-back, the record or the scrambled image.
TEST_F(DownloadTest, ClosedStandardDescriptorsTakeNoFile)
{
    std::vector<uint8_t> plain = PlainImage(1024, 4);
    ASSERT_TRUE(WriteFileBytes(Files.File("plain.bin"), plain));
    ASSERT_TRUE(WriteImageFile(Files.File("expected.img"), plain));
    ASSERT_TRUE(Board.Start(Programmed(plain)));
    const std::string back = Files.File("back.img");
    const std::string record = Files.File("runs.jsonl");
    const std::string scrambled = Files.File("scrambled.img");
    const struct
    {
        EStdin Input;
        bool CloseOutput;
        std::vector<std::string> Record;
    } cases[] = {{EStdin::DevNull, true, {}},
                 {EStdin::DevNull, true, {"--result", record}},
                 {EStdin::Closed, false, {"--result", record}}};
    for (const auto& row : cases)
    {
        CProcessOptions options;
        options.Environment.push_back("ORBELT_COM7=" + Board.Device());
        options.Stdin = row.Input;
        options.CloseOutput = row.CloseOutput;
        std::vector<std::string> argv = {ORBELT_DL_PATH, "-p",     "7",   "--read",
                                         back,           "--size", "1024"};
        argv.insert(argv.end(), row.Record.begin(), row.Record.end());
        CProcessResult read = RunProcess(argv, options);
        CProcessResult scramble =
            RunProcess({ORBELT_SCRAMBLE_PATH, Files.File("plain.bin"), scrambled}, options);
        EXPECT_TRUE(read.ExitedWith(1) && scramble.ExitedWith(0)) << read.Describe();
        EXPECT_TRUE(ReadFileBytes(back) == ReadFileBytes(Files.File("expected.img")));
        EXPECT_TRUE(ReadFileBytes(scrambled) == ReadFileBytes(Files.File("expected.img")));
    }
    ASSERT_TRUE(Board.Stop()) << Board.Stderr();
    CProcessResult parsed = RunProcess(
        {"/usr/bin/python3", "-c",
         "import json, sys\nprint([json.loads(l)['result'] for l in open(sys.argv[1])])", record});
    EXPECT_EQ(parsed.Out, "['OK', 'OK']\n") << parsed.Describe();
}
