// Which arguments go together: checked once the walk is over, so that the order they came in
// does not matter.
#include "app/CommandLine.h"
#include "app/Gang.h"
#include "app/OptionNames.h"
#include "app/SerialNumber.h"
#include "app/Settings.h"
#include "base/Diagnostic.h"

#include <algorithm>
#include <iterator>

namespace
{

const EOption FlashJobs[] = {OptionRead, OptionErase, OptionIdentify};

// The jobs given, in the table's order.
const char* NthJob(const CArguments& walk, int n)
{
    const EOption* job =
        std::find_if(std::begin(FlashJobs), std::end(FlashJobs),
                     [&](EOption option) { return (walk.Jobs & JobBit(option)) != 0 && n-- == 0; });
    return job != std::end(FlashJobs) ? OptionName(*job) : nullptr;
}

const char* FirstJob(const CArguments& walk)
{
    return NthJob(walk, 0);
}

const char* SecondJob(const CArguments& walk)
{
    return NthJob(walk, 1);
}

// A station flashes one image into board after board: it has nothing to do with the flash
// alone, and nobody is there to read a help text.
bool CheckStation(const CArguments& walk)
{
    const char* other = walk.Jobs != 0   ? FirstJob(walk)
                        : walk.HelpGiven ? OptionName(OptionHelp)
                                         : nullptr;
    if (other != nullptr)
    {
        Diagnose("%s cannot be combined with %s", OptionName(OptionStation), other);
        return false;
    }
    if (walk.FileName == nullptr)
    {
        Diagnose("%s needs an image file", OptionName(OptionStation));
        return false;
    }
    return true;
}

// An update compares, erases, programs and verifies by itself: a job on the flash alone or a
// verify mode beside it is a mistake.
bool CheckUpdate(const CArguments& walk)
{
    const char* other = walk.Jobs != 0                   ? FirstJob(walk)
                        : !walk.VerifyGiven              ? nullptr
                        : VerifyMode == ProgramAndVerify ? OptionName(OptionVerify)
                                                         : OptionName(OptionVerifyOnly);
    if (other != nullptr)
    {
        Diagnose("%s cannot be combined with %s", OptionName(OptionUpdate), other);
        return false;
    }
    return true;
}

// A serial number goes into the image of a board being programmed, from a counter file; -vo
// only reads the board's own.
bool CheckSerial(const CArguments& walk)
{
    const bool at = SerialAt >= 0;
    const bool verifyOnly = VerifyMode == VerifyWithoutProgramming && !walk.UpdateGiven;
    if (at && SerialPath == nullptr && !verifyOnly)
    {
        Diagnose("%s needs %s", OptionName(OptionSerialAt), OptionName(OptionSerialFile));
    }
    else if (!at && (SerialPath != nullptr || walk.SerialFormatGiven))
    {
        Diagnose("%s needs %s",
                 OptionName(SerialPath != nullptr ? OptionSerialFile : OptionSerialFormat),
                 OptionName(OptionSerialAt));
    }
    else if (at && walk.Jobs != 0)
    {
        Diagnose("%s cannot be combined with %s: a number is written as a board is programmed",
                 OptionName(OptionSerialAt), FirstJob(walk));
    }
    else
    {
        return true;
    }
    return false;
}

} // namespace

// --read, --erase and --identify work on the flash alone: an image name or -v/-vo beside them,
// or two of them, is a mistake to point out, not to guess around.
bool CheckCombination(const CArguments& walk)
{
    if ((StationMode && !CheckStation(walk)) || (walk.UpdateGiven && !CheckUpdate(walk)) ||
        !CheckGang(walk))
    {
        return false;
    }
    const char* job = FirstJob(walk);
    const char* second = SecondJob(walk);
    if (second != nullptr)
    {
        Diagnose("%s and %s cannot be combined", job, second);
    }
    else if (walk.SizeGiven && ReadPath == nullptr)
    {
        Diagnose("%s needs %s", OptionName(OptionSize), OptionName(OptionRead));
    }
    else if (JournalFolderOption != nullptr && !walk.UpdateGiven)
    {
        Diagnose("%s needs %s", OptionName(OptionJournalDir), OptionName(OptionUpdate));
    }
    else if (job != nullptr && walk.VerifyGiven)
    {
        Diagnose("%s cannot be combined with %s or %s", job, OptionName(OptionVerify),
                 OptionName(OptionVerifyOnly));
    }
    else if (job != nullptr && walk.FileName != nullptr)
    {
        Diagnose("%s takes no image file, but '%s' was given", job, walk.FileName);
    }
    else
    {
        return CheckSerial(walk);
    }
    return false;
}
