#pragma once

// Walks argv into the run settings and *fileName (nullptr when none was given; it points into
// argv, so a name of any length is kept whole). Prints "invalid port number\n" and returns
// false at the first bad -p value, without looking at later arguments; a bad value or
// combination of the long options is one diagnostic line and false.
bool ParseArguments(int argc, char** argv, const char** fileName);

// atoi's reading of text (white space, sign, digits) limited to the valid port range.
bool ParsePortNumber(const char* text, int& port);

// The options that consume the next argument as their value.
bool OptionTakesValue(const char* argument);

// Sets ResultPath from the last "--result FILE", looking past whatever the walk would stop at,
// so that a run that fails on its arguments is recorded too.
void FindResultPath(int argc, char** argv);
void PrintUsage();
