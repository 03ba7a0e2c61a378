#include "board/BoardLog.h"

#include <cstdio>

void BoardLog(const std::string& line)
{
    std::fprintf(stderr, "orbelt-board: %s\n", line.c_str());
}
