#include "app/Console.h"
#include "app/Outcome.h"
#include "app/Questions.h"

int main(int argc, char** argv)
{
    MakeOutputUnbuffered();
    if (AnswerQuestion(argc, argv))
    {
        return 0;
    }
    StartUp();
    bool result = RunFromArguments(argc, argv);
    PrintResultBanner(result);
    PrintVerdict(result);
    WaitForKey();
    // 1 after every run, success or not, as existing callers expect: the verdict is the banner.
    return 1;
}
