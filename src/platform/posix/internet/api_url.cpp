// URL canonicalisation and cracking, and the cookie jar's entry point.
#include <string>
#include <string_view>

#include "platform/posix/internet/api_support.h"
#include "platform/posix/internet/cookie_jar.h"
#include "platform/posix/internet/url_canonical.h"
#include "platform/posix/internet/url_crack.h"

using namespace platform::internet;

namespace {

struct ComponentRequest {
    LPSTR* text;
    DWORD* length;
    std::string_view value;
};

bool Wanted(const ComponentRequest& component) {
    return *component.text != nullptr || *component.length != 0;
}

}  // namespace

BOOL InternetCanonicalizeUrlA(LPCSTR url, LPSTR buffer, LPDWORD bufferLength, DWORD flags) {
    if (url == nullptr || bufferLength == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    const std::optional<std::string> canonical = CanonicalizeUrl(url, flags);
    if (!canonical) return Fail(ERROR_INTERNET_INVALID_URL);
    const DWORD error = CopyOut(*canonical, buffer, bufferLength);
    return error == 0 ? TRUE : Fail(error);
}

BOOL InternetCrackUrlA(LPCSTR url, DWORD urlLength, DWORD /*flags*/, URL_COMPONENTSA* parts) {
    if (url == nullptr || parts == nullptr || parts->dwStructSize != sizeof(URL_COMPONENTSA)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const std::string_view text =
        urlLength == 0 ? std::string_view(url) : std::string_view(url, urlLength);
    UrlParts cracked;
    const DWORD error = CrackUrl(text, &cracked);
    if (error != 0) return Fail(error);

    const bool extraWanted = parts->lpszExtraInfo != nullptr || parts->dwExtraInfoLength != 0;
    // Without an extra-information part, the query stays in the path.
    const std::string_view path =
        extraWanted
            ? cracked.path
            : std::string_view(cracked.path.data(), cracked.path.size() + cracked.extra.size());
    ComponentRequest components[] = {
        {&parts->lpszScheme, &parts->dwSchemeLength, cracked.scheme},
        {&parts->lpszHostName, &parts->dwHostNameLength, cracked.hostName},
        {&parts->lpszUserName, &parts->dwUserNameLength, cracked.userName},
        {&parts->lpszPassword, &parts->dwPasswordLength, cracked.password},
        {&parts->lpszUrlPath, &parts->dwUrlPathLength, path},
        {&parts->lpszExtraInfo, &parts->dwExtraInfoLength, cracked.extra},
    };
    // Every buffer is checked before any is written, so a failed call changes no text.
    bool tooSmall = false;
    for (ComponentRequest& component : components) {
        if (*component.text != nullptr && *component.length <= component.value.size()) {
            *component.length = static_cast<DWORD>(component.value.size() + 1);
            tooSmall = true;
        }
    }
    if (tooSmall) return Fail(ERROR_INSUFFICIENT_BUFFER);
    for (ComponentRequest& component : components) {
        if (!Wanted(component)) continue;
        if (*component.text != nullptr) {
            component.value.copy(*component.text, component.value.size());
            (*component.text)[component.value.size()] = '\0';
        } else {
            // No buffer but a length: the part is pointed at inside the caller's text.
            *component.text = const_cast<LPSTR>(component.value.data());
        }
        *component.length = static_cast<DWORD>(component.value.size());
    }
    parts->nScheme = cracked.schemeNumber;
    parts->nPort = cracked.port;
    return TRUE;
}

BOOL InternetSetCookieA(LPCSTR url, LPCSTR cookieName, LPCSTR cookieData) {
    const DWORD error = CookieJar::Instance().Set(url, cookieName, cookieData);
    return error == 0 ? TRUE : Fail(error);
}
