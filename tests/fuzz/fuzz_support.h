// What the fuzz targets share: a check that stops the run with a readable message, a private
// temporary folder and file helpers. Every target also links a guard in place of the C
// library's connect() and getaddrinfo(): look-ups take numeric addresses only and nothing but
// IPv4 loopback is reached, so no fuzzed redirect can send a request elsewhere.
#pragma once

#include <stdlib.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fuzz {

[[noreturn]] inline void Fail(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "fuzz check failed: %s at %s:%d\n", condition, file, line);
    std::abort();  // libFuzzer saves the input that got here as a crash
}

#define FUZZ_CHECK(condition)                                           \
    do {                                                                \
        if (!(condition)) ::fuzz::Fail(#condition, __FILE__, __LINE__); \
    } while (false)

// A folder under the system's temporary folder, removed with its content at a normal exit.
struct TempFolder {
    explicit TempFolder(const char* prefix)
        : path(std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")) {
        FUZZ_CHECK(mkdtemp(path.data()) != nullptr);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string File(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
    FUZZ_CHECK((std::ofstream(path, std::ios::binary) << bytes).good());
}

inline std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Text as the C interfaces take it: up to the first zero byte.
inline std::string AsCText(const std::string& text) {
    return text.substr(0, text.find('\0'));
}

// Connections the guard let through, and refused, since the start.
extern std::atomic<std::uint64_t> loopbackConnects, refusedConnects;

}  // namespace fuzz
