// The same on every platform, on top of whichever StopRequested is linked in.
#include "base/Stop.h"

namespace
{

bool Finishing = false;

} // namespace

void FinishDespiteStop(bool finishing)
{
    Finishing = finishing;
}

bool StopCutsShort()
{
    return !Finishing && StopRequested();
}
