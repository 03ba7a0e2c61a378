#pragma once

// Ends the process with a message; libFuzzer reports it as a crash with the input.
[[noreturn]] void FuzzFail(const char* what);

#define FUZZ_CHECK(condition)                                                                      \
    do                                                                                             \
    {                                                                                              \
        if (!(condition))                                                                          \
        {                                                                                          \
            FuzzFail(#condition);                                                                  \
        }                                                                                          \
    } while (false)
