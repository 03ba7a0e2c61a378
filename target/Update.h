#pragma once

// --update, after the guard: the image's bytes read and compared, then only the sectors that
// differ erased or programmed in place (target/UpdatePlan.h) and read back. Always streams.
#include "target/BoardRun.h"
#include "target/RunPlan.h"

// One of the update's stages on the open port; a stage with no work shows nothing.
bool RunUpdateStage(EStage stage, CBoardRun& run);
