// What the fuzz targets share: a check that stops the run with a readable message, and the
// temporary folders and file helpers of the tests.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/real_servers.h"

// libFuzzer keeps the input that made a check fail as a crash.
#define FUZZ_CHECK(condition)                                                              \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "fuzz check failed: %s at %s:%d\n", #condition, __FILE__, \
                         __LINE__);                                                        \
            std::abort();                                                                  \
        }                                                                                  \
    } while (false)

namespace fuzz {

// Text as the C interfaces take it: up to the first zero byte.
inline std::string AsCText(const std::string& text) {
    return text.substr(0, text.find('\0'));
}

}  // namespace fuzz
