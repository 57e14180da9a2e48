// Files over POSIX descriptors, and the rules of file names on POSIX systems. Wide paths are
// UTF-16 and reach the file of their UTF-8 name.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <utility>

#include "platform/posix/system/text.h"
#include "platform/posix/system/unique_fd.h"
#include "platform/system.h"

namespace zemuser::platform {
namespace posix {

UniqueFd OpenRetrying(const char* path, int flags, unsigned mode) {
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return UniqueFd(fd);
}

}  // namespace posix

namespace {

// A path with a lone surrogate names no file here, so it is refused rather than repaired.
std::optional<std::string> Utf8Path(const WideChar* path) {
    std::string converted;
    if (path == nullptr || !posix::AppendUtf8(path, converted)) return std::nullopt;
    return converted;
}

void CloseDescriptor(std::intptr_t handle) {
    if (handle >= 0) ::close(static_cast<int>(handle));
}

}  // namespace

InputFile InputFile::Open(const char* path) {
    InputFile file;
    if (path == nullptr) return file;
    posix::UniqueFd fd = posix::OpenRetrying(path, O_RDONLY);
    struct stat status {};
    // A folder opens for reading here but is no file to read, as on Windows.
    if (!fd.valid() || ::fstat(fd.get(), &status) != 0 || S_ISDIR(status.st_mode)) return file;
    file.handle_ = fd.Release();
    file.size_ = static_cast<std::uint64_t>(status.st_size);
    return file;
}

InputFile InputFile::Open(const WideChar* path) {
    const auto converted = Utf8Path(path);
    return converted ? Open(converted->c_str()) : InputFile();
}

InputFile::InputFile(InputFile&& other) noexcept
    : handle_(std::exchange(other.handle_, kClosed)), size_(std::exchange(other.size_, 0)) {}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
    if (this != &other) {
        CloseDescriptor(handle_);
        handle_ = std::exchange(other.handle_, kClosed);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

InputFile::~InputFile() {
    CloseDescriptor(handle_);
}

bool InputFile::Read(void* buffer, std::uint32_t size, std::uint32_t* count) {
    *count = 0;
    if (!IsOpen()) return false;
    ssize_t done;
    do {
        done = ::read(static_cast<int>(handle_), buffer, size);
    } while (done < 0 && errno == EINTR);
    if (done < 0) return false;
    *count = static_cast<std::uint32_t>(done);
    return true;
}

OutputFile OutputFile::CreateAlways(const char* path) {
    OutputFile file;
    // O_TRUNC empties only a file that was there: emptying a new one too would make ext4 flush
    // it whole when it is closed. A folder fails with EISDIR.
    if (path != nullptr)
        file.handle_ = posix::OpenRetrying(path, O_WRONLY | O_CREAT | O_TRUNC, 0666).Release();
    return file;
}

OutputFile OutputFile::CreateAlways(const WideChar* path) {
    const auto converted = Utf8Path(path);
    return converted ? CreateAlways(converted->c_str()) : OutputFile();
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : handle_(std::exchange(other.handle_, kClosed)) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = std::exchange(other.handle_, kClosed);
    }
    return *this;
}

OutputFile::~OutputFile() {
    Close();
}

bool OutputFile::Write(const void* data, std::uint32_t size) {
    if (!IsOpen()) return false;
    const auto* bytes = static_cast<const char*>(data);
    std::uint32_t done = 0;
    while (done < size) {
        const ssize_t count = ::write(static_cast<int>(handle_), bytes + done, size - done);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return false;
        done += static_cast<std::uint32_t>(count);
    }
    return true;
}

void OutputFile::Close() {
    CloseDescriptor(std::exchange(handle_, kClosed));
}

bool DeleteFile(const char* path) {
    // unlink() refuses a folder, as DeleteFile does.
    return path != nullptr && ::unlink(path) == 0;
}

bool DeleteFile(const WideChar* path) {
    const auto converted = Utf8Path(path);
    return converted && DeleteFile(converted->c_str());
}

bool IsFolder(const char* path) {
    struct stat status {};
    return path != nullptr && ::stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

bool IsFolder(const WideChar* path) {
    const auto converted = Utf8Path(path);
    return converted && IsFolder(converted->c_str());
}

const char* PathSeparator() {
    return "/";
}

const WideChar* WidePathSeparator() {
    return u"/";
}

bool IsDroppedFileNameCharacter(char) {
    return false;
}

bool IsUnusableFileName(const std::string& name) {
    // A separator or NUL would leave the folder or cut the name short; "." and ".." name
    // folders, not a file inside the folder.
    return name.find('/') != std::string::npos || name.find('\0') != std::string::npos ||
           name == "." || name == "..";
}

}  // namespace zemuser::platform
