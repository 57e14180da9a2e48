// The code page conversions. Both the UTF-8 code page and the narrow (ANSI) code page are
// UTF-8 here, so the narrow text of the engine and of the file system agree.
#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

#include "platform/posix/kernel32.h"
#include "platform/posix/unicode.h"

namespace {

constexpr DWORD WC_ERR_INVALID_CHARS = 0x80;
constexpr DWORD MB_ERR_INVALID_CHARS = 0x08;

bool IsUtf8CodePage(UINT codePage) {
    return codePage == CP_UTF8 || codePage == CP_ACP;
}

// Windows buffer rules: a size of 0 measures, a short buffer fails and writes nothing.
template <typename Char>
int DeliverConverted(const std::basic_string<Char>& converted, Char* out, int outSize) {
    if (converted.size() > static_cast<std::size_t>(INT_MAX)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    const int length = static_cast<int>(converted.size());
    if (outSize == 0) return length;
    if (length > outSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // Counted output, as the platform's conversions give it: the terminator is copied only
    // when the input counted one.
    std::copy(converted.begin(), converted.end(), out);
    return length;
}

}  // namespace

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideLength, LPSTR narrow,
                        int narrowSize, LPCSTR defaultChar, LPBOOL usedDefaultChar) {
    const bool badArguments = !IsUtf8CodePage(codePage) || wide == nullptr || wideLength == 0 ||
                              wideLength < -1 || narrowSize < 0 ||
                              (narrowSize > 0 && narrow == nullptr) ||
                              (codePage == CP_UTF8 && (defaultChar || usedDefaultChar));
    if (badArguments) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (usedDefaultChar != nullptr) *usedDefaultChar = FALSE;
    // -1: the text is terminated, and the terminator is converted (and counted) too.
    const std::size_t length = wideLength == -1 ? std::char_traits<WCHAR>::length(wide) + 1
                                                : static_cast<std::size_t>(wideLength);
    std::string converted;
    if (!platform::posix::AppendUtf8({wide, length}, converted) && (flags & WC_ERR_INVALID_CHARS)) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    return DeliverConverted(converted, narrow, narrowSize);
}

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR narrow, int narrowLength, LPWSTR wide,
                        int wideSize) {
    const bool badArguments = !IsUtf8CodePage(codePage) || narrow == nullptr || narrowLength == 0 ||
                              narrowLength < -1 || wideSize < 0 ||
                              (wideSize > 0 && wide == nullptr);
    if (badArguments) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::size_t length =
        narrowLength == -1 ? std::strlen(narrow) + 1 : static_cast<std::size_t>(narrowLength);
    std::u16string converted;
    if (!platform::posix::AppendUtf16({narrow, length}, converted) &&
        (flags & MB_ERR_INVALID_CHARS)) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    return DeliverConverted(converted, wide, wideSize);
}
