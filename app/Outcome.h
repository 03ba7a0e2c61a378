#pragma once

#include "app/CommandLine.h"
#include "target/BoardRun.h"

void StartUp();
void PrintResultBanner(bool ok);
// The verdict line, the mode's own for a run that found nothing to change; ", press any key to
// continue" follows unless no key wait can follow (a station).
void PrintVerdict(const CBoardRun& run, bool ok);
// The whole run after start-up: the walk's findings, image load, download. Returns the result.
bool RunFromArguments(const CArguments& arguments, CBoardRun& run);
// Loads the image file fileName (nullptr: "missing file name") for the record and the download.
bool LoadNamedImage(const char* fileName);
// The end of a run: its record, the banner and the verdict. Returns the result, false when the
// record could not be written (run.RecordLost tells).
bool FinishRun(CBoardRun& run, bool result);
