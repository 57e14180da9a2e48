// Folders, files and the environment for the tables: real_servers.h, or stand-ins on Windows;
// and polling, for both.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

#ifndef _WIN32
#include "support/real_servers.h"
#else
#include <process.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/pattern_text.h"

namespace testing_support {

std::uint16_t FreeLoopbackPort();

struct ScopedEnv {  // in msvcrt's environment, which the DLL shares; the tables set unset ones
    ScopedEnv(const std::string& name, const std::string& value) : name(name) {
        _putenv_s(name.c_str(), value.c_str());
    }
    ~ScopedEnv() { _putenv_s(name.c_str(), ""); }  // removes it
    const std::string name;
};

struct TempDir {
    TempDir() { std::filesystem::create_directory(path_); }
    TempDir(const TempDir&) = delete;
    ~TempDir() { std::filesystem::remove_all(path_); }
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "\\" + name; }

    static inline std::atomic<int> made{0};
    const std::string path_ =
        (std::filesystem::temp_directory_path() /
         ("zemuser-" + std::to_string(_getpid()) + "-" + std::to_string(++made)))
            .string();
};

inline std::string ReadFileBytes(const std::filesystem::path& path) {  // "" for none
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
}
inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace testing_support
#endif

namespace testing_support {

// Polls `done` every `step` until it holds or `limit` has passed; false on time-out.
inline bool PollUntil(const std::function<bool()>& done, std::chrono::milliseconds limit,
                      std::chrono::milliseconds step) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(step);
    }
    return true;
}

}  // namespace testing_support
