// Small helpers shared by the internet interface's entry points.
#pragma once

#include <cstring>
#include <string>
#include <string_view>

#include "platform/posix/kernel32.h"
#include "platform/posix/wininet.h"

namespace platform::internet {

// Sets the thread's last error and returns the failure value of the call.
inline BOOL Fail(DWORD code) {
    SetLastError(code);
    return FALSE;
}

inline HINTERNET FailHandle(DWORD code) {
    SetLastError(code);
    return nullptr;
}

// Text passed with a length: -1 means NUL-terminated; the text never extends past a NUL.
inline std::string_view TextWithLength(LPCSTR text, DWORD length) {
    if (text == nullptr) return {};
    if (length == static_cast<DWORD>(-1)) return text;
    const void* nul = std::memchr(text, '\0', length);
    return std::string_view(text, nul ? static_cast<const char*>(nul) - text : length);
}

inline std::string TextOrEmpty(LPCSTR text) {
    return text == nullptr ? std::string() : text;
}

// Copies `value` with its NUL when it fits; else reports the size needed (NUL included)
// and leaves the buffer untouched. On success the length excludes the NUL.
inline DWORD CopyOut(std::string_view value, LPVOID buffer, LPDWORD length) {
    if (buffer == nullptr || *length < value.size() + 1) {
        *length = static_cast<DWORD>(value.size() + 1);
        return ERROR_INSUFFICIENT_BUFFER;
    }
    std::memcpy(buffer, value.data(), value.size());
    static_cast<char*>(buffer)[value.size()] = '\0';
    *length = static_cast<DWORD>(value.size());
    return 0;
}

// The library's global set-up, done once before the first transfer.
void EnsureTransferLibrary();

}  // namespace platform::internet
