// URL cracking as the engine needs it: the browser-mode canonical form (unsafe characters before
// the query percent-encoded, dot segments resolved, the query and fragment kept byte for byte),
// then its scheme, host, port and path. The transfer library's URL parser is not used here: it
// refuses URLs this must take (spaces in the query, "mailto:a@b", unknown schemes).
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/http_transport.h"
#include "platform/posix/http/text_rules.h"

namespace zemuser::platform {
namespace {

using http::PercentEncode;
using http::SplitScheme;
using http::ToLower;

// The longest host or path the engine takes.
constexpr std::size_t kLongestPart = 2083;

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

bool IsUnsafe(unsigned char c) {
    return c <= 0x20 || c >= 0x7F || std::strchr("\"<>\\^`{|}", c) != nullptr;
}

// Resolves "." and ".." segments of an absolute path; ".." never climbs above the root.
std::string RemoveDotSegments(std::string_view path) {
    std::vector<std::string_view> segments;
    bool trailingSlash = false;
    std::size_t pos = path.empty() || path[0] != '/' ? 0 : 1;
    while (pos <= path.size()) {
        std::size_t end = path.find('/', pos);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view segment = path.substr(pos, end - pos);
        const bool last = end == path.size();
        if (segment == "." || segment == "..") {
            if (segment == ".." && !segments.empty()) segments.pop_back();
            trailingSlash = last;
        } else {
            segments.push_back(segment);
            trailingSlash = false;
        }
        pos = end + 1;
    }
    std::string out;
    for (std::string_view segment : segments) out.append("/").append(segment);
    if (trailingSlash || out.empty()) out += '/';
    return out;
}

bool Canonicalize(std::string_view url, std::string* out) {
    while (!url.empty() && IsBlank(url.front())) url.remove_prefix(1);
    std::size_t tailStart = url.find_first_of("?#");
    if (tailStart == std::string_view::npos) tailStart = url.size();
    std::string_view head = url.substr(0, tailStart);
    const std::string_view tail = url.substr(tailStart);
    if (tail.empty()) {
        while (!head.empty() && IsBlank(head.back())) head.remove_suffix(1);
    }
    std::string_view scheme, rest;
    if (!SplitScheme(head, &scheme, &rest)) return false;
    *out = ToLower(scheme) + ":";
    if (rest.substr(0, 2) == "//") {
        rest.remove_prefix(2);
        const std::size_t pathStart = std::min(rest.find('/'), rest.size());
        const std::string_view authority = rest.substr(0, pathStart);
        const std::size_t at = authority.rfind('@');
        const std::size_t hostStart = at == std::string_view::npos ? 0 : at + 1;
        out->append("//").append(authority.substr(0, hostStart));
        out->append(ToLower(authority.substr(hostStart)));
        out->append(PercentEncode(RemoveDotSegments(rest.substr(pathStart)), IsUnsafe));
    } else {
        out->append(PercentEncode(rest, IsUnsafe));
    }
    out->append(tail);
    return true;
}

bool ParsePort(std::string_view text, std::uint16_t* port) {
    if (text.empty() || text.size() > 5) return false;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535) return false;
    *port = static_cast<std::uint16_t>(value);
    return true;
}

// "host", "host:port" or "[v6]:port"; an empty port means the scheme's default.
bool SplitHostPort(std::string_view hostPort, CrackedUrl* out) {
    std::string_view portText;
    if (!hostPort.empty() && hostPort.front() == '[') {
        const std::size_t close = hostPort.find(']');
        if (close == std::string_view::npos) return false;
        out->host = hostPort.substr(1, close - 1);
        const std::string_view after = hostPort.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') return false;
            portText = after.substr(1);
        }
    } else {
        const std::size_t colon = hostPort.rfind(':');
        out->host = hostPort.substr(0, colon);
        if (colon != std::string_view::npos) portText = hostPort.substr(colon + 1);
    }
    return portText.empty() || ParsePort(portText, &out->port);
}

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

bool Crack(std::string_view url, CrackedUrl* out) {
    std::string_view schemeName, rest;
    if (!SplitScheme(url, &schemeName, &rest)) return false;
    for (const SchemeEntry& entry : kSchemes) {
        if (schemeName == entry.name) {
            out->scheme = entry.scheme;
            out->port = entry.defaultPort;
        }
    }
    if (rest.substr(0, 2) != "//") {
        out->path = rest;
        return true;
    }
    const std::size_t authorityEnd = std::min(rest.find_first_of("/?#", 2), rest.size());
    std::string_view authority = rest.substr(2, authorityEnd - 2);
    const std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos) authority.remove_prefix(at + 1);
    if (!SplitHostPort(authority, out)) return false;
    const bool needsHost = out->scheme == UrlScheme::Http || out->scheme == UrlScheme::Https ||
                           out->scheme == UrlScheme::Ftp || out->scheme == UrlScheme::Gopher;
    if (needsHost && out->host.empty()) return false;
    out->path = rest.substr(authorityEnd);
    return true;
}

}  // namespace

bool CrackUrl(const char* url, CrackedUrl* out) {
    std::string canonical;
    CrackedUrl cracked;
    if (url == nullptr || !Canonicalize(url, &canonical) || !Crack(canonical, &cracked) ||
        cracked.host.size() > kLongestPart || cracked.path.size() > kLongestPart) {
        return false;
    }
    *out = std::move(cracked);
    return true;
}

}  // namespace zemuser::platform
