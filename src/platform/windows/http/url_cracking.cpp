// URLs through WinINet's canonicalisation and cracker, as a browser reads them.
#include <windows.h>
#include <wininet.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/http_transport.h"

namespace zemuser::platform {
namespace {

// Host and path each hold at most 2083 characters: 2085 reserved, 2084 announced; a longer one
// makes the cracker fail.
constexpr DWORD kPartCapacity = 2085;
constexpr DWORD kPartAnnounced = 2084;

UrlScheme SchemeOf(INTERNET_SCHEME scheme) {
    switch (scheme) {
        case INTERNET_SCHEME_FTP:
            return UrlScheme::Ftp;
        case INTERNET_SCHEME_GOPHER:
            return UrlScheme::Gopher;
        case INTERNET_SCHEME_HTTP:
            return UrlScheme::Http;
        case INTERNET_SCHEME_HTTPS:
            return UrlScheme::Https;
        case INTERNET_SCHEME_FILE:
            return UrlScheme::File;
        case INTERNET_SCHEME_NEWS:
            return UrlScheme::News;
        case INTERNET_SCHEME_MAILTO:
            return UrlScheme::Mailto;
        default:
            return UrlScheme::Other;
    }
}

// The canonical form, or false. A form longer than the platform's URL limit gets one more try
// in a buffer of the size WinINet asked for.
bool Canonicalize(const char* url, std::vector<char>* canonical) {
    canonical->assign(INTERNET_MAX_URL_LENGTH, '\0');
    DWORD length = INTERNET_MAX_URL_LENGTH;
    if (InternetCanonicalizeUrlA(url, canonical->data(), &length, ICU_BROWSER_MODE)) return true;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    canonical->assign(static_cast<std::size_t>(length) + 1, '\0');
    return InternetCanonicalizeUrlA(url, canonical->data(), &length, ICU_BROWSER_MODE) != FALSE;
}

}  // namespace

bool CrackUrl(const char* url, CrackedUrl* out) {
    if (url == nullptr || out == nullptr) return false;
    try {
        std::vector<char> canonical;
        if (!Canonicalize(url, &canonical)) return false;

        std::vector<char> host(kPartCapacity, '\0');
        std::vector<char> path(kPartCapacity, '\0');
        URL_COMPONENTSA components{};
        components.dwStructSize = sizeof(components);
        components.lpszHostName = host.data();
        components.dwHostNameLength = kPartAnnounced;
        components.lpszUrlPath = path.data();
        components.dwUrlPathLength = kPartAnnounced;
        if (!InternetCrackUrlA(canonical.data(), 0, 0, &components)) return false;

        out->scheme = SchemeOf(components.nScheme);
        out->host = host.data();
        out->path = path.data();
        out->port = components.nPort;
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace zemuser::platform
