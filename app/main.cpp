#include "app/CommandLine.h"
#include "app/Console.h"
#include "app/Outcome.h"
#include "app/RunRecord.h"
#include "app/Settings.h"

int main(int argc, char** argv)
{
    MakeOutputUnbuffered();
    EEarlyRequest request = ScanEarlyOptions(argc, argv);
    if (request != RequestRun)
    {
        request == RequestHelp ? PrintUsage() : PrintVersion();
        return 0;
    }
    StartRunRecord();
    StartUp();
    bool result = RunFromArguments(argc, argv);
    if (!AppendRunRecord(result))
    {
        result = false;
    }
    PrintResultBanner(result);
    PrintVerdict(result);
    if (NoWait)
    {
        return result ? 0 : 1;
    }
    WaitForKey();
    // 1 after every run, success or not, as existing callers expect: the verdict is the banner.
    return 1;
}
