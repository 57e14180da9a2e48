// URL canonicalisation, cracking and the splitting built on them, on any text: no crash or
// out-of-bounds access, host and path within their limits, and a canonical URL is a fixed
// point of canonicalisation.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "platform/posix/internet/url_canonical.h"
#include "platform/posix/internet/url_crack.h"
#include "session/connect_mode.h"
#include "session/url_split.h"

namespace {

using platform::internet::CanonicalizeUrl;
using platform::internet::CrackUrl;
using platform::internet::UrlParts;

// The longest host or path SplitUrl hands out: its buffers hold 2084 characters with the NUL.
constexpr std::size_t kLongestPart = 2083;

void CheckCanonicalIsFixedPoint(const std::string& url, DWORD flags) {
    const std::optional<std::string> canonical = CanonicalizeUrl(url, flags);
    if (!canonical) return;
    const std::optional<std::string> again = CanonicalizeUrl(*canonical, flags);
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(*again == *canonical);
}

// The exported form: a buffer too small reports the size needed, NUL included, and a buffer of
// that size then takes the same text.
void CheckCanonicalizeExport(const std::string& url) {
    DWORD needed = 0;
    FUZZ_CHECK(!InternetCanonicalizeUrlA(url.c_str(), nullptr, &needed, ICU_BROWSER_MODE));
    const std::optional<std::string> canonical = CanonicalizeUrl(url, ICU_BROWSER_MODE);
    if (!canonical) {
        FUZZ_CHECK(GetLastError() == ERROR_INTERNET_INVALID_URL);
        return;
    }
    FUZZ_CHECK(GetLastError() == ERROR_INSUFFICIENT_BUFFER);
    FUZZ_CHECK(needed == canonical->size() + 1);

    std::vector<char> exact(needed);
    DWORD length = needed;
    FUZZ_CHECK(InternetCanonicalizeUrlA(url.c_str(), exact.data(), &length, ICU_BROWSER_MODE));
    FUZZ_CHECK(length == canonical->size());
    FUZZ_CHECK(std::string(exact.data(), length) == *canonical);
    FUZZ_CHECK(exact[length] == '\0');

    std::vector<char> shortByOne(needed - 1, 'x');
    length = needed - 1;
    FUZZ_CHECK(
        !InternetCanonicalizeUrlA(url.c_str(), shortByOne.data(), &length, ICU_BROWSER_MODE));
    FUZZ_CHECK(length == needed);
    FUZZ_CHECK(std::string(shortByOne.begin(), shortByOne.end()) == std::string(needed - 1, 'x'));
}

struct Component {
    LPSTR URL_COMPONENTSA::*text;
    DWORD URL_COMPONENTSA::*length;
};

constexpr Component kComponents[] = {
    {&URL_COMPONENTSA::lpszScheme, &URL_COMPONENTSA::dwSchemeLength},
    {&URL_COMPONENTSA::lpszHostName, &URL_COMPONENTSA::dwHostNameLength},
    {&URL_COMPONENTSA::lpszUserName, &URL_COMPONENTSA::dwUserNameLength},
    {&URL_COMPONENTSA::lpszPassword, &URL_COMPONENTSA::dwPasswordLength},
    {&URL_COMPONENTSA::lpszUrlPath, &URL_COMPONENTSA::dwUrlPathLength},
    {&URL_COMPONENTSA::lpszExtraInfo, &URL_COMPONENTSA::dwExtraInfoLength},
};

URL_COMPONENTSA EmptyComponents() {
    URL_COMPONENTSA parts{};
    parts.dwStructSize = sizeof(parts);
    return parts;
}

// Every part asked for without buffers points into the caller's text; buffers of exactly the
// right size then take the same parts; a buffer one byte short fails the whole call without
// touching any buffer.
void CheckCrackExport(const std::string& url) {
    URL_COMPONENTSA pointers = EmptyComponents();
    for (const Component& c : kComponents) pointers.*c.length = 1;
    if (!InternetCrackUrlA(url.c_str(), 0, 0, &pointers)) return;

    const char* begin = url.c_str();
    const char* end = begin + url.size();
    for (const Component& c : kComponents) {
        const char* part = pointers.*c.text;
        if (part == nullptr) {  // a part the URL does not have
            FUZZ_CHECK(pointers.*c.length == 0);
            continue;
        }
        FUZZ_CHECK(part >= begin && part <= end);
        FUZZ_CHECK(pointers.*c.length <= static_cast<std::size_t>(end - part));
    }

    URL_COMPONENTSA copies = EmptyComponents();
    std::vector<std::unique_ptr<char[]>> buffers;
    for (const Component& c : kComponents) {
        const DWORD size = pointers.*c.length + 1;
        buffers.push_back(std::make_unique<char[]>(size));
        copies.*c.text = buffers.back().get();
        copies.*c.length = size;
    }
    FUZZ_CHECK(InternetCrackUrlA(url.c_str(), static_cast<DWORD>(url.size()), 0, &copies));
    for (const Component& c : kComponents) {
        FUZZ_CHECK(copies.*c.length == pointers.*c.length);
        FUZZ_CHECK(std::string_view(copies.*c.text, copies.*c.length) ==
                   std::string_view(pointers.*c.text, pointers.*c.length));
        FUZZ_CHECK((copies.*c.text)[copies.*c.length] == '\0');
    }
    FUZZ_CHECK(copies.nScheme == pointers.nScheme && copies.nPort == pointers.nPort);

    // The host buffer one byte short.
    URL_COMPONENTSA tight = EmptyComponents();
    const DWORD hostSize = pointers.dwHostNameLength;
    auto host = std::make_unique<char[]>(hostSize + 1);
    // Without an extra-information part the query stays in the path: room for all of it.
    const DWORD pathSize = static_cast<DWORD>(url.size() + 1);
    auto path = std::make_unique<char[]>(pathSize);
    host[0] = path[0] = '#';
    tight.lpszHostName = host.get();
    tight.dwHostNameLength = hostSize;
    tight.lpszUrlPath = path.get();
    tight.dwUrlPathLength = pathSize;
    FUZZ_CHECK(!InternetCrackUrlA(url.c_str(), 0, 0, &tight));
    FUZZ_CHECK(GetLastError() == ERROR_INSUFFICIENT_BUFFER);
    FUZZ_CHECK(tight.dwHostNameLength == hostSize + 1);
    FUZZ_CHECK(host[0] == '#' && path[0] == '#');
}

std::uint32_t ExpectedServiceCode(INTERNET_SCHEME scheme) {
    switch (scheme) {
        case INTERNET_SCHEME_FTP:
            return 1;
        case INTERNET_SCHEME_GOPHER:
            return 2;
        case INTERNET_SCHEME_HTTP:
            return 3;
        case INTERNET_SCHEME_HTTPS:
            return 0x100B;
        case INTERNET_SCHEME_FILE:
            return 0x1001;
        case INTERNET_SCHEME_NEWS:
            return 0x1006;
        case INTERNET_SCHEME_MAILTO:
            return 0x1002;
        default:
            return 0x1000;
    }
}

// SplitUrl against the canonical form cracked directly: it succeeds exactly when host and
// path (query included) fit their buffers, and then hands out those parts.
void CheckSplit(const std::string& url) {
    std::uint32_t serviceCode = 0;
    std::string host, path;
    std::uint16_t port = 0;
    const bool split = SplitUrl(url.c_str(), &serviceCode, &host, &path, &port) != FALSE;
    FUZZ_CHECK(host.size() <= kLongestPart && path.size() <= kLongestPart);

    const std::optional<std::string> canonical = CanonicalizeUrl(url, ICU_BROWSER_MODE);
    UrlParts parts;
    const bool cracks = canonical && CrackUrl(*canonical, &parts) == 0;
    const std::size_t pathLength = cracks ? parts.path.size() + parts.extra.size() : 0;
    const bool fits = cracks && parts.hostName.size() <= kLongestPart && pathLength <= kLongestPart;
    FUZZ_CHECK(split == fits);
    if (!split) {
        FUZZ_CHECK(serviceCode == ServiceUnknown);
        return;
    }
    FUZZ_CHECK(host == parts.hostName);
    FUZZ_CHECK(path == std::string_view(parts.path.data(), pathLength));
    FUZZ_CHECK(port == parts.port);
    FUZZ_CHECK(serviceCode == ExpectedServiceCode(parts.schemeNumber));
    if (serviceCode == ServiceHttp || serviceCode == ServiceHttps) FUZZ_CHECK(port != 0);
    FUZZ_CHECK(host.find_first_of("/?#@") == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string url = fuzz::AsCText(std::string(reinterpret_cast<const char*>(data), size));
    CheckCanonicalIsFixedPoint(url, ICU_BROWSER_MODE);
    CheckCanonicalIsFixedPoint(url, 0);
    CheckCanonicalizeExport(url);
    CheckCrackExport(url);
    CheckSplit(url);
    return 0;
}
