#pragma once

// --version and --list-ports answer a question instead of running: they are looked for
// anywhere in argv (but as the value of -p) before anything is printed, and the first one
// found is answered on standard output alone. Returns true when one was answered.
bool AnswerQuestion(int argc, char** argv);

// One line per serial port: the -p number (or how to get one), a tab, the device, a tab, what
// is known of it.
void PrintPortList();
