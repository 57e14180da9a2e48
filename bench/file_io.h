// Small POSIX file helpers of the benchmarks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace bench {

class ScopedFd {
  public:
    explicit ScopedFd(int fd = -1) : fd_(fd) {}
    ~ScopedFd();
    ScopedFd(ScopedFd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    ScopedFd& operator=(ScopedFd&&) = delete;
    ScopedFd(const ScopedFd&) = delete;
    ScopedFd& operator=(const ScopedFd&) = delete;

    bool valid() const { return fd_ >= 0; }
    int get() const { return fd_; }

  private:
    int fd_;
};

ScopedFd OpenForReading(const std::string& path);
std::int64_t FileSize(const ScopedFd& file);
std::int64_t FileSize(const std::string& path);  // -1 when it does not exist
bool ReadExactly(const ScopedFd& file, char* out, std::size_t size);
void RemoveFile(const std::string& path);

// The floor of a download stored in 1024-byte pieces: `total` bytes written to `path` with one
// write call per piece, the piece taken from `sample`. False when a write fails.
bool WriteInPieces(const std::string& path, const std::string& sample, std::uint64_t total);

// The first `size` bytes of a file (a sample of the body's content).
std::string ReadPrefix(const std::string& path, std::size_t size);

}  // namespace bench
