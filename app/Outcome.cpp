#include "app/Outcome.h"

#include "app/CommandLine.h"
#include "app/Stop.h"
#include "image/Image.h"
#include "target/Download.h"

#include <cstdio>

namespace
{

const char* const OkBanner[] = {
    "\n           OOOOOO       K    K", "\n           O    O       K   K",
    "\n           O    O       K  K",   "\n           O    O       KKK",
    "\n           O    O       K  K",   "\n           O    O       K   K",
    "\n           OOOOOO       K    K",
};

const char* const NgBanner[] = {
    "\n           N    N       GGGGGGG", "\n           NN   N       G     G",
    "\n           N N  N       G      ", "\n           N  N N       G  GGGG",
    "\n           N   NN       G     G", "\n           N   NN       G     G",
    "\n           N    N       GGGGGGG",
};

// Only the download itself turns signals into stop requests: before it (a FIFO image that
// waits for its writer) and after it (the key wait) they act as usual.
bool DownloadUntilStopped()
{
    CatchStopRequests();
    bool succeeded = RunDownload();
    ReleaseStopRequests();
    return succeeded;
}

} // namespace

void StartUp()
{
    printf("Orbelt UART Download Utility.   %s %s\n\n", __DATE__, __TIME__);
}

void PrintResultBanner(bool ok)
{
    printf("\n");
    for (const char* line : ok ? OkBanner : NgBanner)
    {
        printf("%s", line);
    }
    printf("\n");
}

void PrintVerdict(bool ok)
{
    printf("%s", ok ? "\nFirmware upgraded, press any key to continue"
                    : "\nError encountered, press any key to continue");
}

bool RunFromArguments(int argc, char** argv)
{
    const char* fileName = nullptr;
    if (!ParseArguments(argc, argv, &fileName))
    {
        return false;
    }
    if (fileName == nullptr)
    {
        printf("missing file name\n");
        return false;
    }
    return LoadImage(fileName) && DownloadUntilStopped();
}
