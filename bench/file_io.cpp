#include "file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace bench {
namespace {

constexpr std::size_t kPieceSize = 1024;

}  // namespace

ScopedFd::~ScopedFd() {
    if (fd_ >= 0) ::close(fd_);
}

ScopedFd OpenForReading(const std::string& path) {
    return ScopedFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
}

std::int64_t FileSize(const ScopedFd& file) {
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) return -1;
    return info.st_size;
}

std::int64_t FileSize(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return -1;
    return info.st_size;
}

bool ReadExactly(const ScopedFd& file, char* out, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t count = ::read(file.get(), out + done, size - done);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return false;
        done += static_cast<std::size_t>(count);
    }
    return true;
}

void RemoveFile(const std::string& path) {
    ::unlink(path.c_str());
}

bool WriteInPieces(const std::string& path, const std::string& sample, std::uint64_t total) {
    ScopedFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!file.valid() || sample.size() < kPieceSize) return false;
    std::uint64_t written = 0;
    while (written < total) {
        const std::size_t piece =
            static_cast<std::size_t>(std::min<std::uint64_t>(kPieceSize, total - written));
        const ssize_t count = ::write(file.get(), sample.data(), piece);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return false;
        written += static_cast<std::uint64_t>(count);
    }
    return true;
}

std::string ReadPrefix(const std::string& path, std::size_t size) {
    ScopedFd file = OpenForReading(path);
    std::string prefix(size, '\0');
    if (!file.valid() || !ReadExactly(file, prefix.data(), size)) return "";
    return prefix;
}

}  // namespace bench
