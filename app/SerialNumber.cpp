#include "app/SerialNumber.h"

#include "app/CounterFile.h"
#include "base/Diagnostic.h"
#include "image/Image.h"
#include "target/Recovery.h"
#include "target/TargetLink.h"
#include "target/Update.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <cstring>

int SerialAt = -1;
const char* SerialPath = nullptr;
CSerialFormat SerialFormat = DefaultSerialFormat;
const char* SerialFormatName = "le32";

namespace
{

unsigned char NumberedImage[ImageCapacity];

// Decimal digits, or 0x and hexadecimal digits; an address of the flash.
bool ParseFlashAddress(const char* text, int& address)
{
    const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* digits = hex ? text + 2 : text;
    const size_t length = strspn(digits, hex ? "0123456789abcdefABCDEF" : "0123456789");
    if (length == 0 || digits[length] != '\0')
    {
        return false;
    }
    const unsigned long value = strtoul(digits, nullptr, hex ? 16 : 10);
    if (value >= static_cast<unsigned long>(ImageCapacity))
    {
        return false;
    }
    address = static_cast<int>(value);
    return true;
}

// The numbers of boards that passed, the latest this many: a board comes back soon after it left.
const int RememberedNumbers = 4096;
uint64_t Passed[RememberedNumbers];
int PassedCount = 0;

bool Fits(uint64_t number)
{
    if (SerialFits(SerialFormat, number))
    {
        return true;
    }
    Diagnose("serial number %" PRIu64 " is too large for its format %s", number, SerialFormatName);
    return false;
}

bool CounterSays(ECounterStatus status)
{
    if (status == CounterOk)
    {
        return true;
    }
    const bool systemError =
        status == CounterUnreadable || status == CounterNotLocked || status == CounterNotReplaced;
    Diagnose("serial number file %s %s%s%s", SerialPath, CounterStatusText(status),
             systemError ? ": " : "", systemError ? strerror(errno) : "");
    return false;
}

} // namespace

void ResetSerialSettings()
{
    SerialAt = -1;
    SerialPath = nullptr;
    SerialFormat = DefaultSerialFormat;
    SerialFormatName = "le32";
}

bool ApplySerialAt(CArguments& walk, const char* name, const char* value)
{
    if (value == nullptr || !ParseFlashAddress(value, SerialAt))
    {
        return RefuseArgument(walk,
                              "invalid %s address '%s': give a flash address below 0x%X, "
                              "decimal or 0x hex",
                              name, value != nullptr ? value : "", ImageCapacity);
    }
    return true;
}

bool ApplySerialFile(CArguments& walk, const char* name, const char* value)
{
    if (value == nullptr || value[0] == '\0')
    {
        return RefuseArgument(walk, "%s needs a file name", name);
    }
    SerialPath = value;
    return true;
}

bool ApplySerialFormat(CArguments& walk, const char* name, const char* value)
{
    if (value == nullptr || !ParseSerialFormat(value, SerialFormat))
    {
        return RefuseArgument(walk,
                              "invalid %s '%s': give le32, be32, le16, be16, le64, be64 "
                              "or decN, N digits from 1 to 20",
                              name, value != nullptr ? value : "");
    }
    SerialFormatName = value;
    walk.SerialFormatGiven = true;
    return true;
}

bool CheckSerialNumbers()
{
    if (SerialAt < 0)
    {
        NumberUpdatedBoard = nullptr;
        return true;
    }
    EnterStage("Serial");
    NumberUpdatedBoard = nullptr;
    if (SerialAt + SerialFormat.Width > ImageLength)
    {
        Diagnose("the serial number's %d bytes at 0x%06X lie outside the image of %d bytes",
                 SerialFormat.Width, SerialAt, ImageLength);
        return false;
    }
    NumberUpdatedBoard = [](CBoardRun& run, const unsigned char* flash)
    { return NumberFromField(run, flash + SerialAt); };
    if (VerifyMode == VerifyWithoutProgramming && RunMode != &UpdateRun)
    {
        return true;
    }
    CCounter counter;
    const ECounterStatus status = ReadCounter(SerialPath, counter);
    return CounterSays(status == CounterOk && !CounterWritable(SerialPath) ? CounterReadOnly
                                                                           : status) &&
           Fits(counter.Next);
}

bool ReadNumberField(CBoardRun& run, unsigned char (&field)[MaxSerialDigits])
{
    EnterStage("Serial");
    return RecoverOnce(run) && ReadTargetBytes(SerialAt, field, SerialFormat.Width);
}

bool NumberInField(const unsigned char* field, uint64_t& number)
{
    const int width = SerialFormat.Width;
    const bool blank = std::all_of(field, field + width, [](unsigned char b) { return b == 0xFF; });
    return !blank && memcmp(field, ImageBuffer + SerialAt, static_cast<size_t>(width)) != 0 &&
           ReadSerial(SerialFormat, field, number);
}

bool NumberFromField(CBoardRun& run, const unsigned char* field)
{
    EnterStage("Serial");
    memcpy(NumberedImage, ImageBuffer, sizeof NumberedImage);
    run.Image = NumberedImage;
    uint64_t held = 0;
    const bool holds = NumberInField(field, held);
    if (VerifyMode == VerifyWithoutProgramming && RunMode != &UpdateRun)
    {
        memcpy(NumberedImage + SerialAt, field, static_cast<size_t>(SerialFormat.Width));
        run.HasSerial = holds;
        run.Serial = held;
        return true;
    }
    CCounter counter;
    run.SerialKept =
        holds && ReadCounter(SerialPath, counter) == CounterOk && CounterGave(counter, held);
    if (run.SerialKept)
    {
        run.Serial = held;
    }
    else if (!CounterSays(TakeNextNumber(SerialPath, run.Serial)))
    {
        run.NotNumbered = true;
        return false;
    }
    run.HasSerial = true;
    if (!Fits(run.Serial))
    {
        run.NotNumbered = true;
        return false;
    }
    WriteSerial(SerialFormat, run.Serial, NumberedImage + SerialAt);
    return true;
}

bool TakeSerialNumber(CBoardRun& run)
{
    unsigned char field[MaxSerialDigits];
    return SerialAt < 0 || RunMode == &UpdateRun ||
           (ReadNumberField(run, field) && NumberFromField(run, field));
}

void NotePassed(uint64_t number)
{
    Passed[PassedCount++ % RememberedNumbers] = number;
}

bool PassedBefore(uint64_t number)
{
    const int count = PassedCount < RememberedNumbers ? PassedCount : RememberedNumbers;
    return std::find(Passed, Passed + count, number) != Passed + count;
}
