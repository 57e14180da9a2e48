// What the files of the POSIX system backend share: descriptors with one owner, calls restarted
// after a signal, and UTF-8 paths from UTF-16 ones.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/system.h"

namespace zemuser::platform::posix {

class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    ~UniqueFd() {
        if (fd_ >= 0) ::close(fd_);
    }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int Release() { return std::exchange(fd_, -1); }
    void Reset() { *this = UniqueFd(); }

  private:
    int fd_;
};

// Makes the system call again while a signal interrupts it.
template <typename Call>
auto RetryOnSignal(Call call) {
    for (;;) {
        const auto result = call();
        if (result >= 0 || errno != EINTR) return result;
    }
}

// Opens `path` for this process only: the programs the host starts do not inherit it.
inline UniqueFd OpenRetrying(const char* path, int flags, unsigned mode = 0600) {
    return UniqueFd(RetryOnSignal([&] { return ::open(path, flags | O_CLOEXEC, mode); }));
}

// Writes all of `bytes`, at `offset` when one is given; false when the system took fewer.
inline bool WriteAll(int fd, std::string_view bytes, std::optional<off_t> offset = std::nullopt) {
    while (!bytes.empty()) {
        const ssize_t count = RetryOnSignal([&] {
            return offset ? ::pwrite(fd, bytes.data(), bytes.size(), *offset)
                          : ::write(fd, bytes.data(), bytes.size());
        });
        if (count <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(count));
        if (offset) *offset += count;
    }
    return true;
}

// The UTF-8 form of a path; the empty path, which names no file, for a null path or one with a
// lone surrogate (no UTF-8 file system can hold that name).
std::string Utf8Path(const WideChar* path);

}  // namespace zemuser::platform::posix
