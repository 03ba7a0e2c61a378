#include "base/StandardStreams.h"
#include "board/BoardMain.h"
#include "board/BoardOptions.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    KeepStandardStreamsOpen();
    CBoardOptions options;
    std::string error;
    if (!ParseBoardOptions(argc, argv, options, error))
    {
        std::fprintf(stderr, "orbelt-board: %s\nTry 'orbelt-board --help'.\n", error.c_str());
        return 2;
    }
    if (options.Help)
    {
        std::fputs(BoardUsage().c_str(), stdout);
        return 0;
    }
    return RunBoard(options);
}
