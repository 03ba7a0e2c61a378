#include "tests/fuzz/FuzzCheck.h"

#include <cstdio>
#include <cstdlib>

void FuzzFail(const char* what)
{
    fprintf(stderr, "fuzz check failed: %s\n", what);
    abort();
}
