#include "platform/posix/internet/url_canonical.h"

#include <cstring>
#include <vector>

#include "platform/posix/internet/url_scheme.h"
#include "platform/posix/wininet.h"

namespace platform::internet {
namespace {

bool IsWhitespace(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

bool IsUnsafe(unsigned char c) {
    return c <= 0x20 || c >= 0x7F || std::strchr("\"<>\\^`{|}", c) != nullptr;
}

}  // namespace

std::string EncodeUnsafe(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (IsUnsafe(c)) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        } else {
            out += ch;
        }
    }
    return out;
}

std::string RemoveDotSegments(std::string_view path) {
    std::vector<std::string_view> segments;
    bool trailingSlash = false;
    std::size_t pos = path.empty() || path[0] != '/' ? 0 : 1;
    while (pos <= path.size()) {
        std::size_t end = path.find('/', pos);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view segment = path.substr(pos, end - pos);
        const bool last = end == path.size();
        if (segment == ".") {
            trailingSlash = last;
        } else if (segment == "..") {
            if (!segments.empty()) segments.pop_back();
            trailingSlash = last;
        } else {
            segments.push_back(segment);
            trailingSlash = false;
        }
        pos = end + 1;
    }
    std::string out;
    for (std::string_view segment : segments) {
        out += '/';
        out += segment;
    }
    if (trailingSlash || out.empty()) out += '/';
    return out;
}

std::optional<std::string> CanonicalizeUrl(std::string_view url, DWORD flags) {
    while (!url.empty() && IsWhitespace(url.front())) url.remove_prefix(1);
    const bool browserMode = (flags & ICU_BROWSER_MODE) != 0;

    // The query and fragment: kept byte for byte in browser mode.
    std::size_t tailStart = url.find_first_of("?#");
    if (tailStart == std::string_view::npos) tailStart = url.size();
    std::string_view head = url.substr(0, tailStart);
    std::string_view tail = url.substr(tailStart);
    if (tail.empty() || !browserMode) {
        std::string_view& trimmed = tail.empty() ? head : tail;
        while (!trimmed.empty() && IsWhitespace(trimmed.back())) trimmed.remove_suffix(1);
    }

    std::string_view scheme, rest;
    if (!SplitScheme(head, &scheme, &rest)) return std::nullopt;

    std::string out = ToLower(scheme) + ":";
    if (rest.substr(0, 2) == "//") {
        rest.remove_prefix(2);
        std::size_t pathStart = rest.find('/');
        if (pathStart == std::string_view::npos) pathStart = rest.size();
        const std::string_view authority = rest.substr(0, pathStart);
        const std::size_t at = authority.rfind('@');
        const std::size_t hostStart = at == std::string_view::npos ? 0 : at + 1;
        out += "//";
        out += authority.substr(0, hostStart);
        out += ToLower(authority.substr(hostStart));
        out += EncodeUnsafe(RemoveDotSegments(rest.substr(pathStart)));
    } else {
        out += EncodeUnsafe(rest);
    }
    out += browserMode ? std::string(tail) : EncodeUnsafe(tail);
    return out;
}

}  // namespace platform::internet
