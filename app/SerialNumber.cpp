#include "app/SerialNumber.h"

#include "app/CounterFile.h"
#include "base/Diagnostic.h"
#include "image/Image.h"
#include "target/TargetLink.h"

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

// The numbers handed out, the latest this many: a board comes back soon after it left.
const int RememberedNumbers = 4096;
uint64_t HandedOut[RememberedNumbers];
int HandedOutCount = 0;

bool HandedOutBefore(uint64_t number)
{
    const int count = HandedOutCount < RememberedNumbers ? HandedOutCount : RememberedNumbers;
    for (int i = 0; i < count; ++i)
    {
        if (HandedOut[i] == number)
        {
            return true;
        }
    }
    return false;
}

bool Fits(uint64_t number)
{
    if (SerialFits(SerialFormat, number))
    {
        return true;
    }
    Diagnose("serial number %" PRIu64 " is too large for its format %s", number, SerialFormatName);
    return false;
}

bool CounterGave(ECounterStatus status)
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
        return true;
    }
    EnterStage("Serial");
    if (SerialAt + SerialFormat.Width > ImageLength)
    {
        Diagnose("the serial number's %d bytes at 0x%06X lie outside the image of %d bytes",
                 SerialFormat.Width, SerialAt, ImageLength);
        return false;
    }
    uint64_t next = 0;
    return CounterGave(ReadNextNumber(SerialPath, next)) && Fits(next);
}

bool TakeSerialNumber(CBoardRun& run)
{
    if (SerialAt < 0)
    {
        return true;
    }
    EnterStage("Serial");
    if (!CounterGave(TakeNextNumber(SerialPath, run.Serial)))
    {
        return false;
    }
    run.HasSerial = true;
    HandedOut[HandedOutCount++ % RememberedNumbers] = run.Serial;
    if (!Fits(run.Serial))
    {
        return false;
    }
    memcpy(NumberedImage, ImageBuffer, sizeof NumberedImage);
    WriteSerial(SerialFormat, run.Serial, NumberedImage + SerialAt);
    run.Image = NumberedImage;
    return true;
}

bool BoardCameBack(uint64_t& number)
{
    unsigned char field[MaxSerialDigits];
    return SerialAt >= 0 && ReadTargetBytes(SerialAt, field, SerialFormat.Width) &&
           ReadSerial(SerialFormat, field, number) && HandedOutBefore(number);
}
