// Text conversion with the system's own calls: UTF-8 for the wide text the engine sends, the
// ANSI code page for the narrow names it turns into wide ones.
#include <windows.h>

#include "platform/system.h"

namespace zemuser::platform {

std::string Utf8FromWide(const WideChar* text) {
    if (text == nullptr) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string converted(static_cast<std::size_t>(size), '\0');
    const int done =
        WideCharToMultiByte(CP_UTF8, 0, text, -1, converted.data(), size, nullptr, nullptr);
    converted.resize(done > 0 ? static_cast<std::size_t>(done) - 1 : 0);  // less the terminator
    return converted;
}

WideString WideFromNarrow(const char* text) {
    if (text == nullptr) return {};
    const int size = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (size <= 1) return {};
    WideString converted(static_cast<std::size_t>(size), L'\0');
    const int done = MultiByteToWideChar(CP_ACP, 0, text, -1, converted.data(), size);
    converted.resize(done > 0 ? static_cast<std::size_t>(done) - 1 : 0);
    return converted;
}

}  // namespace zemuser::platform
