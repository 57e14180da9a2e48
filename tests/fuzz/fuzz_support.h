// What the fuzz targets share: a check that stops the run readably, and the tests' file helpers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/real_servers.h"

namespace fuzz {

using namespace testing_support;

[[noreturn]] inline void Fail(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "fuzz check failed: %s at %s:%d\n", condition, file, line);
    std::abort();  // libFuzzer keeps the input that got here as a crash
}

inline std::string Bytes(const std::uint8_t* data, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

// Text as the C interfaces take it: up to the first zero byte.
inline std::string AsCText(const std::string& text) {
    return text.substr(0, text.find('\0'));
}

}  // namespace fuzz

#define FUZZ_CHECK(condition) ((condition) ? void() : ::fuzz::Fail(#condition, __FILE__, __LINE__))
