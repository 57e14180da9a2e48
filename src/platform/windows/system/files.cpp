// Files over the kernel's handles, opened as the engine has always opened them: input shared
// for reading, output shared for writing and created anew.
#include <windows.h>

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

OutputFile OutputFile::CreateAlways(const char* path) {
    OutputFile file;
    if (path != nullptr) {
        file.handle_ = FromHandle(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    return file;
}

OutputFile OutputFile::CreateAlways(const WideChar* path) {
    OutputFile file;
    if (path != nullptr) {
        file.handle_ = FromHandle(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    return file;
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
    DWORD written = 0;
    return IsOpen() && WriteFile(AsHandle(handle_), data, size, &written, nullptr) &&
           written == size;
}

void OutputFile::Close() {
    CloseOpen(std::exchange(handle_, kClosed));
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
