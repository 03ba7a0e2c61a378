#pragma once

// --update, after the guard: the image's bytes read and compared, then only the sectors that
// differ erased or programmed in place (target/UpdatePlan.h) and read back. Always streams.
#include "target/BoardRun.h"
#include "target/RunPlan.h"

// One of the update's stages on the open port; a stage with no work shows nothing.
bool RunUpdateStage(EStage stage, CBoardRun& run);
// After a failed stage or a stop: the bytes the update kept from the board are put back.
void PutBackAfterFailure(CBoardRun& run);
// --serial-at: the board's number, taken once the update has read the board (and put back what
// an update cut short had erased). flash holds the board from address 0 as it was before any
// update was cut short. Sets run.Image; false, with a diagnostic, when the board gets none.
extern bool (*NumberUpdatedBoard)(CBoardRun& run, const unsigned char* flash);
