#include "target/UpdatePlan.h"

#include "image/Image.h"
#include "target/FlashCommands.h"

#include <algorithm>
#include <cstring>

namespace
{

// A byte can be programmed over another only where that clears bits: setting one takes an
// erase.
ESectorAction ActionFor(const unsigned char* flash, const unsigned char* image, int start, int end)
{
    ESectorAction action = SectorKept;
    for (int i = start; i < end; ++i)
    {
        if (flash[i] == image[i])
        {
            continue;
        }
        if ((image[i] & flash[i]) != image[i])
        {
            return SectorErased;
        }
        action = SectorInPlace;
    }
    return action;
}

// The sectors of chip from address 0 up, as far as the plan holds them.
int ListSectors(const CChip& chip, CUpdatePlan& plan)
{
    int count = 0;
    CSector sector = {};
    for (; count < MaxSectors && SectorAt(chip, count, sector); ++count)
    {
        plan.Sectors[count] = {SectorUntouched, sector.Start, sector.Start + sector.Size};
    }
    return count;
}

int Put(unsigned char* program, int at, unsigned char value)
{
    program[at] = value;
    return value == ErasedByte ? 0 : 1;
}

} // namespace

bool PlanUpdate(const CChip& chip, const unsigned char* flash, const unsigned char* image,
                int length, CUpdatePlan& plan)
{
    memset(&plan, 0, sizeof plan);
    plan.SectorCount = ListSectors(chip, plan);
    if (length < 1 || length > ImageCapacity || plan.SectorCount == 0 ||
        plan.Sectors[plan.SectorCount - 1].End < length)
    {
        return false;
    }
    for (int s = 0; s < plan.SectorCount; ++s)
    {
        CSectorPlan& sector = plan.Sectors[s];
        if (sector.Start >= length)
        {
            continue;
        }
        if (sector.End > ImageCapacity)
        {
            return false;
        }
        sector.Action = ActionFor(flash, image, sector.Start, std::min(sector.End, length));
        if (sector.Action == SectorErased)
        {
            ++plan.SectorsErased;
            if (sector.End > length)
            {
                plan.KeepStart = length;
                plan.KeepEnd = sector.End;
            }
            continue;
        }
        sector.End = std::min(sector.End, length);
    }
    return true;
}

void FillProgram(CUpdatePlan& plan, const unsigned char* flash, const unsigned char* image,
                 int length, unsigned char* program)
{
    memset(program, ErasedByte, ImageCapacity);
    plan.BytesProgrammed = 0;
    for (int s = 0; s < plan.SectorCount; ++s)
    {
        const CSectorPlan& sector = plan.Sectors[s];
        const bool erased = sector.Action == SectorErased;
        if (!erased && sector.Action != SectorInPlace)
        {
            continue;
        }
        for (int i = sector.Start; i < sector.End; ++i)
        {
            const unsigned char value = i < length ? image[i] : flash[i];
            if (erased || value != flash[i])
            {
                plan.BytesProgrammed += Put(program, i, value);
            }
        }
    }
}
