#include "app/Console.h"
#include "app/Outcome.h"
#include "app/Questions.h"
#include "app/Stop.h"

int main(int argc, char** argv)
{
    KeepRunningWithoutConsole();
    MakeOutputUnbuffered();
    if (AnswerQuestion(argc, argv))
    {
        return 0;
    }
    StartUp();
    bool result = RunFromArguments(argc, argv);
    PrintResultBanner(result);
    PrintVerdict(result);
    if (StopRequested())
    {
        // Whoever stopped the run is not there to press a key.
        return 128 + StopSignal();
    }
    WaitForKey();
    // 1 after every run, success or not, as existing callers expect: the verdict is the banner.
    return 1;
}
