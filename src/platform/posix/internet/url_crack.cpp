#include "platform/posix/internet/url_crack.h"

#include "platform/posix/internet/url_scheme.h"

namespace platform::internet {
namespace {

bool ParsePort(std::string_view text, INTERNET_PORT* port) {
    if (text.empty() || text.size() > 5) return false;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535) return false;
    *port = static_cast<INTERNET_PORT>(value);
    return true;
}

// "host", "host:port" or "[v6]:port", with an empty port meaning the default.
bool SplitHostPort(std::string_view hostPort, UrlParts* parts) {
    std::string_view portText;
    if (!hostPort.empty() && hostPort.front() == '[') {
        const std::size_t close = hostPort.find(']');
        if (close == std::string_view::npos) return false;
        parts->hostName = hostPort.substr(1, close - 1);
        std::string_view after = hostPort.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') return false;
            portText = after.substr(1);
        }
    } else {
        const std::size_t colon = hostPort.rfind(':');
        parts->hostName = hostPort.substr(0, colon);
        if (colon != std::string_view::npos) portText = hostPort.substr(colon + 1);
    }
    return portText.empty() || ParsePort(portText, &parts->port);
}

}  // namespace

DWORD CrackUrl(std::string_view url, UrlParts* parts) {
    *parts = UrlParts{};
    std::string_view rest;
    if (!SplitScheme(url, &parts->scheme, &rest)) return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    const SchemeInfo scheme = LookupScheme(parts->scheme);
    parts->schemeNumber = scheme.number;
    parts->port = scheme.defaultPort;

    std::size_t tailStart = rest.find_first_of("?#");
    if (tailStart == std::string_view::npos) tailStart = rest.size();
    if (rest.substr(0, 2) == "//") {
        std::size_t authorityEnd = rest.find_first_of("/?#", 2);
        if (authorityEnd == std::string_view::npos) authorityEnd = rest.size();
        std::string_view authority = rest.substr(2, authorityEnd - 2);
        const std::size_t at = authority.rfind('@');
        if (at != std::string_view::npos) {
            const std::string_view userInfo = authority.substr(0, at);
            const std::size_t colon = userInfo.find(':');
            parts->userName = userInfo.substr(0, colon);
            if (colon != std::string_view::npos) parts->password = userInfo.substr(colon + 1);
            authority.remove_prefix(at + 1);
        }
        if (!SplitHostPort(authority, parts)) return ERROR_INTERNET_INVALID_URL;
        const bool needsHost =
            scheme.number == INTERNET_SCHEME_HTTP || scheme.number == INTERNET_SCHEME_HTTPS ||
            scheme.number == INTERNET_SCHEME_FTP || scheme.number == INTERNET_SCHEME_GOPHER;
        if (needsHost && parts->hostName.empty()) return ERROR_INTERNET_INVALID_URL;
        if (tailStart < authorityEnd) tailStart = authorityEnd;
        parts->path = rest.substr(authorityEnd, tailStart - authorityEnd);
    } else {
        parts->path = rest.substr(0, tailStart);
    }
    parts->extra = rest.substr(tailStart);
    return 0;
}

}  // namespace platform::internet
