#include "tests/fuzz/FuzzCheck.h"

#include <cstdio>
#include <cstdlib>

void FuzzFail(const char* what)
{
    fprintf(stderr, "fuzz check failed: %s\n", what);
    abort();
}

// Every target: the product's progress figures, banners and warnings go to stdout, and would
// drown the fuzzer's own output.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (freopen("/dev/null", "w", stdout) == nullptr)
    {
        FuzzFail("cannot silence stdout");
    }
    return 0;
}
