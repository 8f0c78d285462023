#pragma once

// Each fuzz target defines this libFuzzer entry point. Built normally it is driven by
// replay_main.cpp over the committed corpus (a CTest test); scripts/fuzz.sh builds it with clang's
// libFuzzer instead. A broken property ends the process through propertyHolds().

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

inline void propertyHolds(bool holds, const char *what)
{
    if (!holds) {
        std::fprintf(stderr, "property broken: %s\n", what);
        std::abort();
    }
}
