#include "form/upload_file.h"

#include <algorithm>

namespace form {
namespace {

// Large pieces keep a big upload from costing one system call per kilobyte.
constexpr DWORD kReadPiece = 64 * 1024;

HANDLE OpenForReading(const FormField& field) {
    if (field.isWide) {
        return CreateFileW(field.wideValue.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    return CreateFileA(field.value.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

UploadFile::UploadFile(const FormField& field) : handle_(OpenForReading(field)) {
    if (!IsOpen()) return;
    // The high half matters: a file of 4 GB and more must not pass for a small one. The low
    // half may legitimately be all ones, so only the last error tells a failure.
    DWORD high = 0;
    SetLastError(ERROR_SUCCESS);
    const DWORD low = GetFileSize(handle_, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) return;
    size_ = (static_cast<std::uint64_t>(high) << 32) | low;
}

UploadFile::~UploadFile() {
    if (IsOpen()) CloseHandle(handle_);
}

bool UploadFile::IsOpen() const {
    return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE;
}

std::uint64_t UploadFile::ReadInto(char* destination, std::uint64_t limit) {
    if (!IsOpen()) return 0;
    std::uint64_t taken = 0;
    while (taken < limit) {
        const DWORD piece = static_cast<DWORD>(std::min<std::uint64_t>(kReadPiece, limit - taken));
        DWORD read = 0;
        if (!ReadFile(handle_, destination + taken, piece, &read, nullptr) || read == 0) break;
        taken += std::min<std::uint64_t>(read, piece);
    }
    return taken;
}

}  // namespace form
