#pragma once

// Walks argv into VerifyMode, PortNumber and *fileName (nullptr when none was given; it
// points into argv, so a name of any length is kept whole). Prints "invalid port number\n"
// and returns false at the first bad -p value, without looking at later arguments.
bool ParseArguments(int argc, char** argv, const char** fileName);

// atoi's reading of text (white space, sign, digits) limited to the valid port range.
bool ParsePortNumber(const char* text, int& port);
