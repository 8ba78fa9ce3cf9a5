// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdio>
#include <cstdlib>

// A broken rule stops the fuzzer with the input saved, like a crash; assert()
// would vanish under NDEBUG.  Written to descriptor 2 because the stderr
// stream is silenced below.
#define FUZZ_REQUIRE(condition, rule)                                                  \
    do {                                                                               \
        if (!(condition)) {                                                            \
            dprintf(2, "rule broken: %s (%s:%d)\n", rule, __FILE__, __LINE__);         \
            std::abort();                                                              \
        }                                                                              \
    } while (0)

// The filter's messages (one per text that is not UTF-8) would flood the
// fuzzer's output and slow it down.  Only the stdio stream is redirected:
// descriptor 2 stays open for the fuzzer's and the sanitizers' reports.
inline void SilenceJobMessages()
{
    if (std::getenv("FUZZ_SHOW_MESSAGES") != nullptr) return;
    if (FILE* null = std::fopen("/dev/null", "w")) stderr = null;
}
