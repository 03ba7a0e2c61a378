#include "target/UpdateJournal.h"

#include "image/Sha256.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace
{

const char* const Heading = "orbelt-dl update journal 1\n";
const char* const ActionNames[] = {"kept", "in-place", "erased"};

// Whether the byte now on the board lies between before and after: programming only clears
// bits, and an erase sets them all.
bool Between(unsigned char now, unsigned char before, unsigned char after)
{
    return (now & after) == after && (now & before) == now;
}

bool SectorFits(const CJournalSector& sector, const CUpdateJournal& journal,
                const unsigned char* flash)
{
    const unsigned char* now = flash + sector.Start;
    const unsigned char* before = journal.Before + sector.Start;
    const size_t length = static_cast<size_t>(sector.End - sector.Start);
    if (memcmp(now, before, length) == 0)
    {
        return true;
    }
    for (size_t i = 0; i < length; ++i)
    {
        const unsigned char after = journal.After[sector.Start + static_cast<int>(i)];
        const bool fits = sector.Action == JournalInPlace  ? Between(now[i], before[i], after)
                          : sector.Action == JournalErased ? (now[i] & after) == after
                                                           : false;
        if (!fits)
        {
            return false;
        }
    }
    return true;
}

bool SectorsValid(const CUpdateJournal& journal)
{
    int end = 0;
    for (int s = 0; s < journal.SectorCount; ++s)
    {
        const CJournalSector& sector = journal.Sectors[s];
        if (sector.Start < end || sector.End <= sector.Start || sector.End > ImageCapacity ||
            sector.Action > JournalErased)
        {
            return false;
        }
        end = sector.End;
    }
    return journal.SectorCount > 0 && journal.KeepStart < journal.KeepEnd &&
           journal.KeepStart >= 0 && journal.KeepEnd <= end;
}

// Appends to text within capacity; false once it does not fit.
struct CText
{
    unsigned char* Bytes;
    size_t Capacity;
    size_t Length;

    bool Put(const void* data, size_t length)
    {
        if (length > Capacity - Length)
        {
            return false;
        }
        memcpy(Bytes + Length, data, length);
        Length += length;
        return true;
    }

    bool Line(const char* format, int a, int b = 0)
    {
        char line[96];
        const int length = snprintf(line, sizeof line, format, a, b);
        return length > 0 && Put(line, static_cast<size_t>(length));
    }
};

// The next line of text from at, without its line feed; false at the end.
bool NextLine(const unsigned char* text, size_t length, size_t& at, char (&line)[96])
{
    const unsigned char* end =
        static_cast<const unsigned char*>(memchr(text + at, '\n', length - std::min(at, length)));
    if (at >= length || end == nullptr || static_cast<size_t>(end - (text + at)) >= sizeof line)
    {
        return false;
    }
    const size_t size = static_cast<size_t>(end - (text + at));
    memcpy(line, text + at, size);
    line[size] = '\0';
    at += size + 1;
    return true;
}

bool ParseSector(const char* line, CJournalSector& sector)
{
    char action[16];
    unsigned start = 0;
    unsigned end = 0;
    if (sscanf(line, "%15s 0x%x 0x%x", action, &start, &end) != 3 || start > ImageCapacity ||
        end > ImageCapacity)
    {
        return false;
    }
    sector.Start = static_cast<int>(start);
    sector.End = static_cast<int>(end);
    for (unsigned char a = JournalKept; a <= JournalErased; ++a)
    {
        if (strcmp(action, ActionNames[a]) == 0)
        {
            sector.Action = static_cast<EJournalSector>(a);
            return true;
        }
    }
    return false;
}

// The lines before the sectors: chip, port, kept bytes, the count of sectors.
bool ParseHeading(const unsigned char* text, size_t length, size_t& at, CUpdateJournal& journal)
{
    char line[96];
    unsigned manufacturer = 0;
    unsigned device = 0;
    unsigned keepStart = 0;
    unsigned keepEnd = 0;
    if (!NextLine(text, length, at, line) ||
        sscanf(line, "chip %2x:%2x", &manufacturer, &device) != 2 ||
        !NextLine(text, length, at, line) || sscanf(line, "port %d", &journal.Port) != 1 ||
        !NextLine(text, length, at, line) ||
        sscanf(line, "keep 0x%x 0x%x", &keepStart, &keepEnd) != 2 || keepEnd > ImageCapacity ||
        !NextLine(text, length, at, line) ||
        sscanf(line, "sectors %d", &journal.SectorCount) != 1 || journal.SectorCount < 1 ||
        journal.SectorCount > MaxSectors)
    {
        return false;
    }
    journal.Manufacturer = static_cast<unsigned char>(manufacturer);
    journal.Device = static_cast<unsigned char>(device);
    journal.KeepStart = static_cast<int>(keepStart);
    journal.KeepEnd = static_cast<int>(keepEnd);
    return true;
}

} // namespace

int JournalExtent(const CUpdateJournal& journal)
{
    return journal.SectorCount > 0 ? journal.Sectors[journal.SectorCount - 1].End : 0;
}

EJournalFit FitJournal(const CUpdateJournal& journal, unsigned char manufacturer,
                       unsigned char device, const unsigned char* flash)
{
    if (manufacturer != journal.Manufacturer || device != journal.Device)
    {
        return JournalOtherBoard;
    }
    for (int s = 0; s < journal.SectorCount; ++s)
    {
        if (!SectorFits(journal.Sectors[s], journal, flash))
        {
            return JournalOtherBoard;
        }
    }
    const size_t kept = static_cast<size_t>(journal.KeepEnd - journal.KeepStart);
    return memcmp(flash + journal.KeepStart, journal.Before + journal.KeepStart, kept) == 0
               ? JournalNothingLost
               : JournalToRestore;
}

// A heading, the chip, port, kept bytes and sectors one a line, the bytes before and after of
// each sector, and the SHA-256 of all that: a file cut short or changed is no journal.
size_t FormatJournal(const CUpdateJournal& journal, unsigned char* text, size_t capacity)
{
    CText out = {text, capacity, 0};
    bool fits = out.Put(Heading, strlen(Heading)) &&
                out.Line("chip %02X:%02X\n", journal.Manufacturer, journal.Device) &&
                out.Line("port %d\n", journal.Port) &&
                out.Line("keep 0x%05X 0x%05X\n", journal.KeepStart, journal.KeepEnd) &&
                out.Line("sectors %d\n", journal.SectorCount);
    for (int s = 0; fits && s < journal.SectorCount; ++s)
    {
        const CJournalSector& sector = journal.Sectors[s];
        char line[64];
        snprintf(line, sizeof line, "%s 0x%05X 0x%05X\n", ActionNames[sector.Action], sector.Start,
                 sector.End);
        fits = out.Put(line, strlen(line));
    }
    for (int s = 0; fits && s < journal.SectorCount; ++s)
    {
        const CJournalSector& sector = journal.Sectors[s];
        const size_t length = static_cast<size_t>(sector.End - sector.Start);
        fits = out.Put(journal.Before + sector.Start, length) &&
               out.Put(journal.After + sector.Start, length);
    }
    CSha256 hash;
    StartSha256(hash);
    AddToSha256(hash, text, out.Length);
    unsigned char digest[Sha256DigestLength];
    FinishSha256(hash, digest);
    return fits && out.Put(digest, sizeof digest) ? out.Length : 0;
}

bool ParseJournal(const unsigned char* text, size_t length, CUpdateJournal& journal)
{
    unsigned char digest[Sha256DigestLength];
    if (length < strlen(Heading) + sizeof digest || memcmp(text, Heading, strlen(Heading)) != 0)
    {
        return false;
    }
    const size_t body = length - sizeof digest;
    CSha256 hash;
    StartSha256(hash);
    AddToSha256(hash, text, body);
    FinishSha256(hash, digest);
    if (memcmp(digest, text + body, sizeof digest) != 0)
    {
        return false;
    }
    size_t at = strlen(Heading);
    char line[96];
    if (!ParseHeading(text, body, at, journal))
    {
        return false;
    }
    for (int s = 0; s < journal.SectorCount; ++s)
    {
        if (!NextLine(text, body, at, line) || !ParseSector(line, journal.Sectors[s]))
        {
            return false;
        }
    }
    if (!SectorsValid(journal))
    {
        return false;
    }
    for (int s = 0; s < journal.SectorCount; ++s)
    {
        const CJournalSector& sector = journal.Sectors[s];
        const size_t size = static_cast<size_t>(sector.End - sector.Start);
        if (body - at < 2 * size)
        {
            return false;
        }
        memcpy(journal.Before + sector.Start, text + at, size);
        memcpy(journal.After + sector.Start, text + at + size, size);
        at += 2 * size;
    }
    return at == body;
}
