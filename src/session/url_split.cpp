#include "session/url_split.h"

#include <cstring>
#include <new>
#include <vector>

#include "session/connect_mode.h"

namespace {

// Host and path buffers hold at most 2083 characters: 2085 reserved, 2084 announced.
constexpr DWORD kPartCapacity = 2085;
constexpr DWORD kPartAnnounced = 2084;

void FitToText(std::string* text) {
    text->resize(std::strlen(text->c_str()));
}

}  // namespace

std::uint32_t ServiceCodeForScheme(INTERNET_SCHEME scheme) {
    switch (scheme) {
        case INTERNET_SCHEME_FTP:
            return 1;
        case INTERNET_SCHEME_GOPHER:
            return 2;
        case INTERNET_SCHEME_HTTP:
            return ServiceHttp;
        case INTERNET_SCHEME_HTTPS:
            return ServiceHttps;
        case INTERNET_SCHEME_FILE:
            return 0x1001;
        case INTERNET_SCHEME_NEWS:
            return 0x1006;
        case INTERNET_SCHEME_MAILTO:
            return 0x1002;
        default:
            return ServiceUnknown;
    }
}

BOOL SplitUrl(const char* url, std::uint32_t* serviceCode, std::string* host, std::string* path,
              std::uint16_t* port) {
    *serviceCode = ServiceUnknown;
    if (url == nullptr) return FALSE;

    URL_COMPONENTSA components{};
    components.dwStructSize = sizeof(components);
    host->assign(kPartCapacity, '\0');
    path->assign(kPartCapacity, '\0');
    components.lpszHostName = host->data();
    components.dwHostNameLength = kPartAnnounced;
    components.lpszUrlPath = path->data();
    components.dwUrlPathLength = kPartAnnounced;

    BOOL result = CrackCanonicalUrl(url, &components, serviceCode, port);
    FitToText(host);
    FitToText(path);
    return result;
}

BOOL CrackCanonicalUrl(const char* url, URL_COMPONENTSA* components, std::uint32_t* serviceCode,
                       std::uint16_t* port) {
    if (components == nullptr || url == nullptr) return FALSE;

    std::vector<char> canonical(INTERNET_MAX_URL_LENGTH, '\0');
    DWORD length = INTERNET_MAX_URL_LENGTH;
    if (!InternetCanonicalizeUrlA(url, canonical.data(), &length, ICU_BROWSER_MODE)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return FALSE;
        // The platform reported the size it needs; one more try in a buffer of that size.
        try {
            canonical.assign(static_cast<std::size_t>(length) + 1, '\0');
        } catch (const std::bad_alloc&) {
            return FALSE;
        }
        if (!InternetCanonicalizeUrlA(url, canonical.data(), &length, ICU_BROWSER_MODE)) {
            return FALSE;
        }
    }

    if (!InternetCrackUrlA(canonical.data(), 0, 0, components)) {
        *serviceCode = ServiceUnknown;
        return FALSE;
    }
    *port = components->nPort;
    *serviceCode = ServiceCodeForScheme(components->nScheme);
    return TRUE;
}
