#pragma once

void StartUp();
void PrintResultBanner(bool ok);
void PrintVerdict(bool ok);
// The whole run after start-up: argument walk, image load, download. Returns the result.
bool RunFromArguments(int argc, char** argv);
