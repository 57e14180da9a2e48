// Files over POSIX descriptors, the rules of file names on POSIX systems, and the debug output,
// which goes to a file. Wide paths are UTF-16 and reach the file of their UTF-8 name.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#include "platform/posix/system/support.h"

namespace zemuser::platform {

static void CloseDescriptor(std::intptr_t handle) {
    if (handle >= 0) ::close(static_cast<int>(handle));
}

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
    return Open(posix::Utf8Path(path).c_str());
}

InputFile::InputFile(InputFile&& other) noexcept {
    *this = std::move(other);
}

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
    const ssize_t done =
        posix::RetryOnSignal([&] { return ::read(static_cast<int>(handle_), buffer, size); });
    if (done > 0) *count = static_cast<std::uint32_t>(done);
    return done >= 0;
}

ReplacementFile ReplacementFile::Create(const char* target) {
    ReplacementFile file;
    if (target == nullptr || *target == '\0' || IsFolder(target)) return file;
    // Hidden beside the target, in the same folder, so that the rename cannot cross devices.
    const std::string path(target);
    const std::size_t slash = path.rfind('/');
    const std::size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
    std::string temporary = path.substr(0, nameAt) + "." + path.substr(nameAt) + ".XXXXXX";
    // mkostemp creates the name exclusively: an existing file or link is never opened.
    const int fd = posix::RetryOnSignal([&] { return ::mkostemp(temporary.data(), O_CLOEXEC); });
    if (fd < 0) return file;
    file.handle_ = fd;
    file.temporary_ = std::move(temporary);
    file.target_ = path;
    return file;
}

ReplacementFile ReplacementFile::Create(const WideChar* target) {
    const std::string path = posix::Utf8Path(target);
    return Create(path.empty() ? nullptr : path.c_str());
}

ReplacementFile::ReplacementFile(ReplacementFile&& other) noexcept {
    *this = std::move(other);
}

ReplacementFile& ReplacementFile::operator=(ReplacementFile&& other) noexcept {
    if (this != &other) {
        Discard();
        handle_ = std::exchange(other.handle_, kClosed);
        temporary_ = std::move(other.temporary_);
        target_ = std::move(other.target_);
    }
    return *this;
}

ReplacementFile::~ReplacementFile() {
    Discard();
}

bool ReplacementFile::Write(const void* data, std::uint32_t size) {
    return IsOpen() &&
           posix::WriteAll(static_cast<int>(handle_), {static_cast<const char*>(data), size});
}

bool ReplacementFile::Commit() {
    if (!IsOpen()) return false;
    // A descriptor's close reports a write the file system could not keep (a full disk on
    // some file systems): then the file is not whole.
    const bool closed = ::close(static_cast<int>(std::exchange(handle_, kClosed))) == 0;
    if (closed && ::rename(temporary_.c_str(), target_.c_str()) == 0) {
        temporary_.clear();
        return true;
    }
    ::unlink(temporary_.c_str());
    temporary_.clear();
    return false;
}

void ReplacementFile::Discard() {
    CloseDescriptor(std::exchange(handle_, kClosed));
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
    temporary_.clear();
}

bool RemoveFile(const char* path) {
    // unlink() refuses a folder, as DeleteFile does.
    return path != nullptr && ::unlink(path) == 0;
}

bool RemoveFile(const WideChar* path) {
    return RemoveFile(posix::Utf8Path(path).c_str());
}

bool IsFolder(const char* path) {
    struct stat status {};
    return path != nullptr && ::stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

bool IsFolder(const WideChar* path) {
    return IsFolder(posix::Utf8Path(path).c_str());
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
    return name.find_first_of(std::string_view("/\0", 2)) != std::string::npos || name == "." ||
           name == "..";
}

// There is no debugger to receive the texts, so they go to a file chosen by the environment,
// opened for each text so that it may be moved or removed at any time.
void DebugOutput(const char* text) {
    const char* target = std::getenv("ZEMUSER_DEBUG_OUTPUT");
    if (text == nullptr || *text == '\0' || target == nullptr || *target == '\0') return;
    // A debugger shows every text as an entry of its own; in a file that takes a line break.
    // One write per entry keeps the entries of concurrent threads and processes whole.
    std::string entry(text);
    if (entry.back() != '\n') entry.push_back('\n');
    const int savedError = errno;
    if (std::strcmp(target, "-") == 0) {
        posix::WriteAll(STDERR_FILENO, entry);
    } else if (auto file = posix::OpenRetrying(target, O_WRONLY | O_APPEND | O_CREAT, 0666);
               file.valid()) {
        posix::WriteAll(file.get(), entry);
    }
    errno = savedError;
}

}  // namespace zemuser::platform
