#include "session/wide_text.h"

#include <vector>

std::string NarrowFromWide(const WCHAR* wide) {
    if (wide == nullptr) return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::vector<char> narrow(static_cast<std::size_t>(size));
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, narrow.data(), size, nullptr, nullptr);
    return std::string(narrow.data());
}

platform::WideString WideFromNarrow(const char* narrow) {
    if (narrow == nullptr) return {};
    // Names from a server are narrow text in the platform's narrow code page.
    int size = MultiByteToWideChar(CP_ACP, 0, narrow, -1, nullptr, 0);
    if (size <= 1) return {};
    std::vector<WCHAR> wide(static_cast<std::size_t>(size));
    MultiByteToWideChar(CP_ACP, 0, narrow, -1, wide.data(), size);
    return platform::WideString(wide.data());
}
