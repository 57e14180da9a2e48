// URLs as text. Cracking takes the browser-mode canonical form first: unsafe characters before
// the query percent-encoded, dot segments resolved, the query and fragment kept byte for byte.
// The transfer library's URL parser cannot crack: it refuses URLs this must take (spaces in the
// query, "mailto:a@b", unknown schemes).
#include <curl/curl.h>

#include <charconv>
#include <cstring>
#include <memory>

#include "platform/http_transport.h"
#include "platform/posix/http/text_rules.h"

namespace zemuser::platform {
namespace http {
namespace {

// The longest host or path the engine takes.
constexpr std::size_t kLongestPart = 2083;

// The schemes with a default port are the ones that need a host.
struct SchemeEntry {
    const char* name;
    UrlScheme scheme;
    std::uint16_t defaultPort;
};

constexpr SchemeEntry kSchemes[] = {
    {"ftp", UrlScheme::Ftp, 21},      {"gopher", UrlScheme::Gopher, 70},
    {"http", UrlScheme::Http, 80},    {"https", UrlScheme::Https, 443},
    {"file", UrlScheme::File, 0},     {"news", UrlScheme::News, 0},
    {"mailto", UrlScheme::Mailto, 0},
};

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

bool IsUnsafe(unsigned char c) {
    return c <= 0x20 || c >= 0x7F || std::strchr("\"<>\\^`{|}", c) != nullptr;
}

// The length of the scheme that starts `url`, before its ':'; 0 when it starts with none.
std::size_t SchemeLength(std::string_view url) {
    const std::size_t colon = url.find(':');
    const bool valid = colon != std::string_view::npos && colon > 0 &&
                       std::isalpha(static_cast<unsigned char>(url[0])) &&
                       std::all_of(url.begin(), url.begin() + colon, [](unsigned char c) {
                           return std::isalnum(c) || c == '+' || c == '-' || c == '.';
                       });
    return valid ? colon : 0;
}

std::string PercentEncode(std::string_view text, bool (*unsafe)(unsigned char)) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (unsafe(c)) {
            out += {'%', kHex[c >> 4], kHex[c & 0x0F]};
        } else {
            out += ch;
        }
    }
    return out;
}

// True when some segment of the path is "." or "..", or may be one once decoded.
bool MayHaveDotSegments(std::string_view path) {
    for (std::size_t at = path.find("%2"); at != std::string_view::npos;
         at = path.find("%2", at + 1)) {
        if (at + 2 < path.size() && (path[at + 2] == 'e' || path[at + 2] == 'E')) return true;
    }
    while (!path.empty()) {
        path.remove_prefix(1);  // the '/'
        const std::string_view segment = path.substr(0, path.find('/'));
        if (segment == "." || segment == "..") return true;
        path.remove_prefix(segment.size());
    }
    return false;
}

// Resolves the "." and ".." segments of an encoded absolute path as the transfer library does;
// ".." never climbs above the root.
std::string RemoveDotSegments(const std::string& path) {
    // Most paths have none, and the library's parser costs as much as the rest of the cracking.
    if (!MayHaveDotSegments(path)) return path.empty() ? "/" : path;
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> url(curl_url(), &curl_url_cleanup);
    char* resolved = nullptr;
    if (!url ||
        curl_url_set(url.get(), CURLUPART_URL, ("http://h" + path).c_str(), 0) != CURLUE_OK ||
        curl_url_get(url.get(), CURLUPART_PATH, &resolved, 0) != CURLUE_OK) {
        return path.empty() ? "/" : path;
    }
    std::string out = resolved;
    curl_free(resolved);
    return out;
}

// "host", "host:port" or "[v6]:port"; an empty port means the scheme's default.
bool SplitHostPort(std::string_view hostPort, CrackedUrl* out) {
    std::size_t colon = hostPort.rfind(':');
    if (!hostPort.empty() && hostPort.front() == '[') {
        const std::size_t close = hostPort.find(']');
        if (close == std::string_view::npos) return false;
        out->host = hostPort.substr(1, close - 1);
        colon = close + 1 == hostPort.size() ? std::string_view::npos : close + 1;
        if (colon != std::string_view::npos && hostPort[colon] != ':') return false;
    } else {
        out->host = hostPort.substr(0, colon);
    }
    if (colon == std::string_view::npos || colon + 1 == hostPort.size()) return true;
    const char* const end = hostPort.data() + hostPort.size();
    unsigned port = 0;
    const auto parsed = std::from_chars(hostPort.data() + colon + 1, end, port);
    if (parsed.ec != std::errc() || parsed.ptr != end || port == 0 || port > 65535) return false;
    out->port = static_cast<std::uint16_t>(port);
    return true;
}

}  // namespace

bool IsAbsoluteUrl(std::string_view text) {
    const std::size_t scheme = SchemeLength(text);
    return scheme > 0 && text.substr(scheme + 1, 2) == "//";
}

std::string RequestTarget(std::string_view objectName) {
    const bool rooted = !objectName.empty() &&
                        (objectName[0] == '/' || objectName == "*" || IsAbsoluteUrl(objectName));
    return (rooted ? "" : "/") +
           PercentEncode(objectName, [](unsigned char c) { return c <= 0x20 || c == 0x7F; });
}

}  // namespace http

bool CrackUrl(const char* url, CrackedUrl* out) {
    using namespace http;
    std::string_view text = url == nullptr ? "" : url;
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    const std::string_view tail = text.substr(std::min(text.find_first_of("?#"), text.size()));
    std::string_view head = text.substr(0, text.size() - tail.size());
    // Blanks at the end go, unless a query or fragment holds them.
    while (tail.empty() && !head.empty() && IsBlank(head.back())) head.remove_suffix(1);
    const std::size_t schemeLength = SchemeLength(head);
    if (schemeLength == 0) return false;
    const std::string scheme = ToLower(head.substr(0, schemeLength));
    std::string_view rest = head.substr(schemeLength + 1);

    CrackedUrl cracked;
    bool needsHost = false;
    for (const SchemeEntry& entry : kSchemes) {
        if (scheme != entry.name) continue;
        cracked.scheme = entry.scheme;
        cracked.port = entry.defaultPort;
        needsHost = entry.defaultPort != 0;
    }
    if (rest.substr(0, 2) == "//") {
        rest.remove_prefix(2);
        const std::size_t pathStart = std::min(rest.find('/'), rest.size());
        std::string_view authority = rest.substr(0, pathStart);
        authority.remove_prefix(authority.rfind('@') + 1);  // no user information
        if (!SplitHostPort(authority, &cracked) || (needsHost && cracked.host.empty())) {
            return false;
        }
        cracked.host = ToLower(cracked.host);
        cracked.path = RemoveDotSegments(PercentEncode(rest.substr(pathStart), IsUnsafe));
    } else {
        cracked.path = PercentEncode(rest, IsUnsafe);
    }
    cracked.path += tail;
    if (cracked.host.size() > kLongestPart || cracked.path.size() > kLongestPart) return false;
    *out = std::move(cracked);
    return true;
}

}  // namespace zemuser::platform
