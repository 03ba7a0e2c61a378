#pragma once

#include <string>

// One line on standard error, prefixed with the program's name.
void BoardLog(const std::string& line);
