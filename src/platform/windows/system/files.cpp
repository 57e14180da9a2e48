// Files over the kernel's handles: input opened shared for reading; a download written into a
// new hidden file beside its target and moved over the target once it is whole.
#include <windows.h>

#include <atomic>
#include <string>
#include <utility>

#include "platform/system.h"

namespace zemuser::platform {
namespace {

HANDLE AsHandle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

std::intptr_t FromHandle(HANDLE handle) {
    return reinterpret_cast<std::intptr_t>(handle);
}

void CloseOpen(std::intptr_t handle) {
    if (AsHandle(handle) != INVALID_HANDLE_VALUE) CloseHandle(AsHandle(handle));
}

// Both halves of the size; 0 when it cannot be measured.
std::uint64_t SizeOf(HANDLE file) {
    if (file == INVALID_HANDLE_VALUE) return 0;
    DWORD high = 0;
    const DWORD low = GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return 0;
    return (static_cast<std::uint64_t>(high) << 32) | low;
}

bool IsFolderAttributes(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

InputFile InputFile::Open(const char* path) {
    InputFile file;
    if (path == nullptr) return file;
    const HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    file.handle_ = FromHandle(handle);
    file.size_ = SizeOf(handle);
    return file;
}

InputFile InputFile::Open(const WideChar* path) {
    InputFile file;
    if (path == nullptr) return file;
    const HANDLE handle = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    file.handle_ = FromHandle(handle);
    file.size_ = SizeOf(handle);
    return file;
}

InputFile::InputFile(InputFile&& other) noexcept
    : handle_(std::exchange(other.handle_, kClosed)), size_(std::exchange(other.size_, 0)) {}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
    if (this != &other) {
        CloseOpen(handle_);
        handle_ = std::exchange(other.handle_, kClosed);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

InputFile::~InputFile() {
    CloseOpen(handle_);
}

bool InputFile::Read(void* buffer, std::uint32_t size, std::uint32_t* count) {
    DWORD read = 0;
    const bool done = IsOpen() && ReadFile(AsHandle(handle_), buffer, size, &read, nullptr);
    *count = done ? read : 0;
    return done;
}

namespace {

// A name beside the target that no other download of this or another process takes.
template <typename Text>
Text TemporaryName(const Text& target) {
    static std::atomic<unsigned> serial{0};
    const std::string suffix =
        "." + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(serial++) + ".part";
    return target + Text(suffix.begin(), suffix.end());
}

HANDLE CreateNew(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN,
                       nullptr);
}

HANDLE CreateNew(const WideString& path) {
    return CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN,
                       nullptr);
}

}  // namespace

ReplacementFile ReplacementFile::Create(const char* target) {
    ReplacementFile file;
    if (target == nullptr || *target == '\0' || IsFolder(target)) return file;
    file.target_ = target;
    file.temporary_ = TemporaryName(file.target_);
    // CREATE_NEW: an existing file or link of that name is never opened.
    file.handle_ = FromHandle(CreateNew(file.temporary_));
    return file;
}

ReplacementFile ReplacementFile::Create(const WideChar* target) {
    ReplacementFile file;
    if (target == nullptr || *target == 0 || IsFolder(target)) return file;
    file.wideTarget_ = target;
    file.wideTemporary_ = TemporaryName(file.wideTarget_);
    file.handle_ = FromHandle(CreateNew(file.wideTemporary_));
    return file;
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
        wideTemporary_ = std::move(other.wideTemporary_);
        wideTarget_ = std::move(other.wideTarget_);
    }
    return *this;
}

ReplacementFile::~ReplacementFile() {
    Discard();
}

bool ReplacementFile::Write(const void* data, std::uint32_t size) {
    DWORD written = 0;
    return IsOpen() && WriteFile(AsHandle(handle_), data, size, &written, nullptr) &&
           written == size;
}

bool ReplacementFile::Commit() {
    if (!IsOpen()) return false;
    const bool closed = CloseHandle(AsHandle(std::exchange(handle_, kClosed)));
    const bool moved =
        closed &&
        (wideTemporary_.empty()
             ? MoveFileExA(temporary_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING)
             : MoveFileExW(wideTemporary_.c_str(), wideTarget_.c_str(), MOVEFILE_REPLACE_EXISTING));
    if (moved) {
        temporary_.clear();
        wideTemporary_.clear();
        return true;
    }
    Discard();
    return false;
}

void ReplacementFile::Discard() {
    CloseOpen(std::exchange(handle_, kClosed));
    if (!temporary_.empty()) DeleteFileA(temporary_.c_str());
    if (!wideTemporary_.empty()) DeleteFileW(wideTemporary_.c_str());
    temporary_.clear();
    wideTemporary_.clear();
}

bool RemoveFile(const char* path) {
    return path != nullptr && DeleteFileA(path);
}

bool RemoveFile(const WideChar* path) {
    return path != nullptr && DeleteFileW(path);
}

bool IsFolder(const char* path) {
    return path != nullptr && IsFolderAttributes(GetFileAttributesA(path));
}

bool IsFolder(const WideChar* path) {
    return path != nullptr && IsFolderAttributes(GetFileAttributesW(path));
}

}  // namespace zemuser::platform
