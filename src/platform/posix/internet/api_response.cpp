// Reading the answer: header queries and the body.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/posix/internet/api_support.h"
#include "platform/posix/internet/internet_objects.h"

using namespace platform::internet;

namespace {

constexpr DWORD kQueryCustom = 65535;

// The header each supported info level names, or null.
const char* HeaderNameOf(DWORD level) {
    switch (level) {
        case 1:
            return "Content-Type";
        case 5:
            return "Content-Length";
        case 9:
            return "Date";
        case 33:
            return "Location";
        case 37:
            return "Server";
        case 40:
            return "WWW-Authenticate";
        case 41:
            return "Proxy-Authenticate";
        case 43:
            return "Set-Cookie";
        case 47:
            return "Content-Disposition";
        case 63:
            return "Transfer-Encoding";
        default:
            return nullptr;
    }
}

// The text a query asks for; 0 or an error code.
DWORD QueryText(const ResponseHead& head, DWORD level, LPVOID buffer, LPDWORD index,
                std::string* out) {
    const std::size_t occurrence = index == nullptr ? 0 : *index;
    if (level == HTTP_QUERY_STATUS_CODE) {
        *out = std::to_string(head.status);
    } else if (level == HTTP_QUERY_STATUS_TEXT) {
        *out = head.statusText;
    } else if (level == HTTP_QUERY_RAW_HEADERS_CRLF) {
        *out = head.raw;
    } else {
        std::string name;
        if (level == kQueryCustom) {
            if (buffer == nullptr) return ERROR_INVALID_PARAMETER;
            name = static_cast<const char*>(buffer);
        } else if (const char* known = HeaderNameOf(level)) {
            name = known;
        } else {
            return ERROR_HTTP_INVALID_QUERY_REQUEST;
        }
        const std::string* value = head.Find(name, occurrence);
        if (value == nullptr) return ERROR_HTTP_HEADER_NOT_FOUND;
        *out = *value;
    }
    return 0;
}

}  // namespace

BOOL HttpQueryInfoA(HINTERNET handle, DWORD infoLevel, LPVOID buffer, LPDWORD bufferLength,
                    LPDWORD index) {
    DWORD error = 0;
    auto request =
        InternetHandles::Instance().FindAs<RequestObject>(handle, HandleKind::Request, &error);
    if (!request) return Fail(error);
    if (bufferLength == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    const DWORD level = infoLevel & ~HTTP_QUERY_MODIFIER_FLAGS_MASK;
    const DWORD modifiers = infoLevel & HTTP_QUERY_MODIFIER_FLAGS_MASK;
    if (modifiers & ~HTTP_QUERY_FLAG_NUMBER) return Fail(ERROR_HTTP_INVALID_QUERY_REQUEST);

    std::lock_guard<std::mutex> lock(request->callMutex);
    const ResponseHead* head = request->exchange ? request->exchange->head() : nullptr;
    if (head == nullptr) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    std::string text;
    error = QueryText(*head, level, buffer, index, &text);
    if (error != 0) return Fail(error);

    if (modifiers & HTTP_QUERY_FLAG_NUMBER) {
        if (buffer == nullptr || *bufferLength < sizeof(DWORD)) {
            *bufferLength = sizeof(DWORD);
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        const DWORD number = static_cast<DWORD>(std::strtoul(text.c_str(), nullptr, 10));
        std::memcpy(buffer, &number, sizeof number);
        *bufferLength = sizeof number;
    } else {
        error = CopyOut(text, buffer, bufferLength);
        if (error != 0) return Fail(error);
    }
    if (index != nullptr) ++*index;
    return TRUE;
}

BOOL InternetReadFile(HINTERNET handle, LPVOID buffer, DWORD toRead, LPDWORD read) {
    DWORD error = 0;
    auto request =
        InternetHandles::Instance().FindAs<RequestObject>(handle, HandleKind::Request, &error);
    if (!request) return Fail(error);
    if (read == nullptr || (buffer == nullptr && toRead != 0)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    *read = 0;
    std::lock_guard<std::mutex> lock(request->callMutex);
    if (!request->exchange || request->exchange->head() == nullptr) {
        return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    }
    std::size_t count = 0;
    error = request->exchange->Read(static_cast<char*>(buffer), toRead, &count);
    if (error != 0) return Fail(error);
    *read = static_cast<DWORD>(count);
    return TRUE;
}
