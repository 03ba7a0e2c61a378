#pragma once

// The answers of --version and --list-ports (--help is PrintUsage, app/CommandLine.h): given
// on standard output alone, instead of a run.

void PrintVersion();
// One line per serial port: the -p number (or how to get one), a tab, the device, a tab, what
// is known of it.
void PrintPortList();
