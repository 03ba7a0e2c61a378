#pragma once

#include "app/CommandLine.h"

void StartUp();
void PrintResultBanner(bool ok);
void PrintVerdict(bool ok);
// The whole run after start-up: the walk's findings, image load, download. Returns the result.
bool RunFromArguments(const CArguments& arguments);
