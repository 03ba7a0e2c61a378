#include "app/RunRecord.h"

#include "app/RecordFile.h"
#include "app/Settings.h"
#include "app/Timestamp.h"
#include "base/Clock.h"
#include "base/ConsoleOut.h"
#include "base/Diagnostic.h"
#include "base/Stop.h"
#include "image/Crc32.h"
#include "image/Image.h"
#include "image/Sha256.h"
#include "serial/ComPort.h"
#include "target/RunPlan.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace
{

const char* ImagePath = nullptr;
bool ImageBytesKnown = false;
int RecordedLength = 0;
uint32_t RecordedCrc = 0;
char RecordedSha256[2 * Sha256DigestLength + 1] = "";

enum ERecordState
{
    RecordNotOpen,
    RecordOpen,
    RecordUnwritable,
};
ERecordState RecordState = RecordNotOpen;
char OpenedFor[4096] = "";

// Paths may be long and grow six-fold when escaped; a line that does not fit is not written.
char Line[131072];
size_t LineLength = 0;
bool LineOverflowed = false;

void Add(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

void Add(const char* format, ...)
{
    if (LineOverflowed)
    {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(Line + LineLength, sizeof Line - LineLength, format, arguments);
    va_end(arguments);
    if (length < 0 || static_cast<size_t>(length) >= sizeof Line - LineLength)
    {
        LineOverflowed = true;
        return;
    }
    LineLength += static_cast<size_t>(length);
}

// Length of the well-formed UTF-8 sequence at text, or 0 when it is not one.
int Utf8SequenceLength(const unsigned char* text)
{
    int length = 0;
    unsigned minimum = 0;
    unsigned value = 0;
    if (text[0] >= 0xC2 && text[0] <= 0xDF)
    {
        length = 2, minimum = 0x80, value = text[0] & 0x1Fu;
    }
    else if (text[0] >= 0xE0 && text[0] <= 0xEF)
    {
        length = 3, minimum = 0x800, value = text[0] & 0x0Fu;
    }
    else if (text[0] >= 0xF0 && text[0] <= 0xF4)
    {
        length = 4, minimum = 0x10000, value = text[0] & 0x07u;
    }
    for (int i = 1; i < length; ++i)
    {
        if ((text[i] & 0xC0u) != 0x80u)
        {
            return 0;
        }
        value = (value << 6) | (text[i] & 0x3Fu);
    }
    bool surrogate = value >= 0xD800 && value <= 0xDFFF;
    return length > 0 && value >= minimum && value <= 0x10FFFF && !surrogate ? length : 0;
}

// A JSON string; bytes that are not UTF-8 (a path in another code page) become U+FFFD.
void AddString(const char* text)
{
    if (text == nullptr)
    {
        Add("null");
        return;
    }
    Add("\"");
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != '\0')
    {
        if (*p == '"' || *p == '\\')
        {
            Add("\\%c", *p++);
        }
        else if (*p < 0x20 || *p == 0x7F)
        {
            Add("\\u%04x", *p++);
        }
        else if (*p < 0x80)
        {
            Add("%c", *p++);
        }
        else if (int length = Utf8SequenceLength(p))
        {
            Add("%.*s", length, reinterpret_cast<const char*>(p));
            p += length;
        }
        else
        {
            Add("\\ufffd");
            ++p;
        }
    }
    Add("\"");
}

// The keys known once the board's run has begun, "start" to "mode", without braces.
void AddStart(const CBoardRun& run)
{
    Add("\"start\":");
    char start[40];
    FormatTimestamp(run.StartWallMs, start, sizeof start);
    Add("\"%s\"", start);
    Add(",\"version\":\"%s\",\"port\":", ORBELT_VERSION);
    if (PortNumber >= MinPortNumber && PortNumber <= MaxPortNumber)
    {
        Add("%d", PortNumber);
    }
    else
    {
        Add("null");
    }
    Add(",\"device\":");
    AddString(TargetPort.Device()[0] != '\0' ? TargetPort.Device() : nullptr);
    if (run.Board > 0)
    {
        Add(",\"board\":%d", run.Board);
    }
    if (run.HasSerial)
    {
        Add(",\"serial\":%" PRIu64, run.Serial);
        if (run.SerialKept)
        {
            Add(",\"serial_kept\":true");
        }
    }
    Add(",\"image\":");
    AddString(ImagePath);
    if (ImageBytesKnown)
    {
        Add(",\"image_length\":%d,\"image_crc32\":\"%08x\"", RecordedLength,
            static_cast<unsigned>(RecordedCrc));
    }
    else
    {
        Add(",\"image_length\":null,\"image_crc32\":null");
    }
    if (RunMode->LoadsImage)
    {
        Add(",\"image_sha256\":");
        AddString(ImageBytesKnown ? RecordedSha256 : nullptr);
    }
    Add(",\"mode\":\"%s\"", RunMode->Name);
}

void FormatLine(const CBoardRun& run, bool ok, long long elapsedMs)
{
    LineLength = 0;
    LineOverflowed = false;
    Add("{");
    AddStart(run);
    Add(",\"result\":\"%s\",\"failed_stage\":", ok ? "OK" : "NG");
    AddString(ok ? nullptr : CurrentStage());
    Add(",\"reason\":");
    if (!ok && StopRequested())
    {
        Add("\"stopped by signal %d\"", StopSignal());
    }
    else
    {
        AddString(ok || LastDiagnostic()[0] == '\0' ? nullptr : LastDiagnostic());
    }
    Add(",\"elapsed_seconds\":%ld.%03d", static_cast<long>(elapsedMs / 1000),
        static_cast<int>(elapsedMs % 1000));
    // Only runs with --skip-blank have the key, so that the lines of all others stay as they were.
    if (SkipBlank)
    {
        Add(",\"skipped_bytes\":%d", run.SkippedBytes);
    }
    // Runs that asked the chip: its codes when it gave them, its name when the table knows it.
    if (run.ChipRead)
    {
        const CChipIdentity& chip = run.Chip;
        const bool coded =
            chip.Outcome == EChipOutcome::Known || chip.Outcome == EChipOutcome::Unknown;
        Add(coded ? ",\"chip_id\":\"%02X:%02X\"" : ",\"chip_id\":null", chip.Manufacturer,
            chip.Device);
        Add(",\"chip\":");
        AddString(chip.Chip != nullptr ? chip.Chip->Name : nullptr);
    }
    if (RunMode == &UpdateRun)
    {
        Add(",\"sectors_erased\":%d,\"bytes_programmed\":%d", run.SectorsErased,
            run.BytesProgrammed);
    }
    // Only runs that put bytes back from a journal: the lines of all others stay as they were.
    if (run.RestoredBytes > 0)
    {
        Add(",\"restored_bytes\":%d", run.RestoredBytes);
    }
    for (int i = 0; i < RecordTagCount; ++i)
    {
        const char* equals = strchr(RecordTags[i], '=');
        Add(",\"%.*s\":", static_cast<int>(equals - RecordTags[i]), RecordTags[i]);
        AddString(equals + 1);
    }
    Add("}\n");
}

} // namespace

void StartRunRecord(CBoardRun& run)
{
    run.StartWallMs = WallClockMilliseconds();
    run.StartMs = ClockMilliseconds();
}

void RecordImagePath(const char* path)
{
    ImagePath = path;
}

void RecordImageBytes()
{
    ImageBytesKnown = true;
    RecordedLength = ImageLength;
    RecordedCrc = Crc32(ImageBuffer, static_cast<size_t>(ImageLength));
    // Of the file's bytes, scrambled as they were read, so that sha256sum gives the same.
    CSha256 hash;
    StartSha256(hash);
    for (int offset = 0; offset < ImageLength; offset += ImageKeyLength)
    {
        unsigned char chunk[ImageKeyLength];
        const size_t length = static_cast<size_t>(std::min(ImageKeyLength, ImageLength - offset));
        memcpy(chunk, ImageBuffer + offset, length);
        ApplyImageKey(chunk, length);
        AddToSha256(hash, chunk, length);
    }
    unsigned char digest[Sha256DigestLength];
    FinishSha256(hash, digest);
    Sha256Hex(digest, RecordedSha256);
}

bool OpenRunRecord()
{
    if (ResultPath == nullptr)
    {
        return true;
    }
    // Opened once; a caller that names another file (a test process running many) gets it.
    if (RecordState != RecordNotOpen && strcmp(OpenedFor, ResultPath) == 0)
    {
        return RecordState != RecordUnwritable;
    }
    snprintf(OpenedFor, sizeof OpenedFor, "%s", ResultPath);
    if (!OpenRecordFile(ResultPath))
    {
        RecordState = RecordUnwritable;
        Diagnose("cannot append the run record to %s: %s", ResultPath, strerror(errno));
        return false;
    }
    RecordState = RecordOpen;
    return true;
}

void TellEventsOfBoard(int board)
{
    char keys[64];
    int used = PortNumber >= MinPortNumber && PortNumber <= MaxPortNumber
                   ? snprintf(keys, sizeof keys, "\"port\":%d", PortNumber)
                   : snprintf(keys, sizeof keys, "\"port\":null");
    if (board > 0)
    {
        snprintf(keys + used, sizeof keys - used, ",\"board\":%d", board);
    }
    SetEventKeys(keys);
}

void TellRunStart(const CBoardRun& run)
{
    LineLength = 0;
    LineOverflowed = false;
    AddStart(run);
    if (!LineOverflowed)
    {
        ConsoleRecordEvent("start", "%s", Line);
    }
}

void TellRunEnd(const CBoardRun& run, bool ok)
{
    FormatLine(run, ok, ClockMilliseconds() - run.StartMs);
    // The record's members, between its braces.
    if (!LineOverflowed && LineLength > 3)
    {
        ConsoleRecordEvent("end", "\"ok\":%s,%.*s", ok ? "true" : "false",
                           static_cast<int>(LineLength - 3), Line + 1);
    }
}

bool AppendRunRecord(const CBoardRun& run, bool ok)
{
    if (ResultPath == nullptr)
    {
        return true;
    }
    // Told once, when the file was opened.
    if (!OpenRunRecord())
    {
        return false;
    }
    FormatLine(run, ok, ClockMilliseconds() - run.StartMs);
    if (LineOverflowed)
    {
        Diagnose("the run record does not fit in %u bytes; nothing written to %s",
                 static_cast<unsigned>(sizeof Line), ResultPath);
        return false;
    }
    if (!AppendToRecordFile(Line, LineLength))
    {
        Diagnose("cannot append the run record to %s: %s", ResultPath, strerror(errno));
        return false;
    }
    return true;
}
