// On Windows, what the shared tables take from real_servers.h (a POSIX file): folders, files,
// the environment, pattern text and a free port.
#pragma once

#include <process.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace testing_support {

std::uint16_t FreeLoopbackPort();

class ScopedEnv {  // the runtime's environment, which the DLL shares (msvcrt)
  public:
    ScopedEnv(const std::string& name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name.c_str())) old_ = old;
        _putenv_s(name.c_str(), value.c_str());
    }
    ~ScopedEnv() { _putenv_s(name_.c_str(), old_.c_str()); }  // "" removes it
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_, old_;
};

class TempDir {
  public:
    TempDir() {
        static std::atomic<int> made{0};
        path_ = (std::filesystem::temp_directory_path() /
                 ("zemuser-test-" + std::to_string(_getpid()) + "-" + std::to_string(++made)))
                    .string();
        std::filesystem::create_directory(path_);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "\\" + name; }

  private:
    std::string path_;
};

inline std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
    if (!(std::ofstream(path, std::ios::binary) << bytes)) throw std::runtime_error(path);
}
inline std::string PatternText(std::size_t size, unsigned seed = 0) {
    std::string text(size, ' ');
    for (std::size_t i = 0; i < size; ++i) {
        text[i] = static_cast<char>('!' + (i * 7 + i / 91 + seed * 13) % 90);
    }
    return text;
}

}  // namespace testing_support
