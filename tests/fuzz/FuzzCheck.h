#pragma once

#include <cstdio>
#include <cstdlib>

// A broken property must stop the fuzzer the way a crash does, so that
// libFuzzer saves the input that broke it.
#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #cond);       \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)
