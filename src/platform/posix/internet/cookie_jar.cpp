#include "platform/posix/internet/cookie_jar.h"

#include <algorithm>
#include <string_view>

#include "platform/posix/internet/url_crack.h"
#include "platform/posix/internet/url_scheme.h"
#include "platform/posix/no_destructor.h"
#include "platform/posix/wininet.h"

namespace platform::internet {
namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

bool HasControlCharacters(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

bool DomainMatches(const std::string& host, const std::string& domain, bool hostOnly) {
    if (EqualsIgnoreCase(host, domain)) return true;
    if (hostOnly || host.size() <= domain.size()) return false;
    const std::size_t start = host.size() - domain.size();
    return host[start - 1] == '.' && EqualsIgnoreCase(host.substr(start), domain);
}

bool PathMatches(const std::string& requestPath, const std::string& cookiePath) {
    if (requestPath.compare(0, cookiePath.size(), cookiePath) != 0) return false;
    return requestPath.size() == cookiePath.size() || cookiePath.back() == '/' ||
           requestPath[cookiePath.size()] == '/';
}

// The folder of the URL's path, the default path of a cookie.
std::string DefaultPath(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos || slash == 0) return "/";
    return std::string(path.substr(0, slash));
}

}  // namespace

CookieJar& CookieJar::Instance() {
    static platform::posix::NoDestructor<CookieJar> jar;
    return jar.get();
}

DWORD CookieJar::Set(const char* url, const char* name, const char* data) {
    if (url == nullptr || data == nullptr) return ERROR_INVALID_PARAMETER;
    UrlParts parts;
    if (CrackUrl(url, &parts) != 0 || parts.hostName.empty()) return ERROR_INTERNET_INVALID_URL;

    std::string_view text = data;
    if (HasControlCharacters(text) || (name != nullptr && HasControlCharacters(name))) {
        return ERROR_INVALID_PARAMETER;
    }
    Cookie cookie;
    cookie.domain = ToLower(parts.hostName);
    cookie.path = DefaultPath(parts.path);
    std::size_t end = text.find(';');
    std::string_view pair = Trim(text.substr(0, end));
    if (name != nullptr && *name != '\0') {
        cookie.name = name;
        cookie.value = std::string(pair);
    } else {
        const std::size_t equals = pair.find('=');
        if (equals == std::string_view::npos) return ERROR_INVALID_PARAMETER;
        cookie.name = std::string(Trim(pair.substr(0, equals)));
        cookie.value = std::string(Trim(pair.substr(equals + 1)));
    }
    if (cookie.name.empty() || cookie.name.find_first_of("=; ") != std::string::npos) {
        return ERROR_INVALID_PARAMETER;
    }
    while (end != std::string_view::npos) {
        text.remove_prefix(end + 1);
        end = text.find(';');
        const std::string_view attribute = Trim(text.substr(0, end));
        const std::size_t equals = attribute.find('=');
        const std::string key = ToLower(Trim(attribute.substr(0, equals)));
        const std::string_view value = equals == std::string_view::npos
                                           ? std::string_view()
                                           : Trim(attribute.substr(equals + 1));
        if (key == "path" && !value.empty() && value.front() == '/') {
            cookie.path = std::string(value);
        } else if (key == "domain" && !value.empty()) {
            std::string domain = ToLower(value);
            if (domain.front() == '.') domain.erase(0, 1);
            // A cookie may only be widened to a domain that the URL's host belongs to.
            if (!DomainMatches(cookie.domain, domain, false)) return ERROR_INVALID_PARAMETER;
            cookie.domain = domain;
            cookie.hostOnly = false;
        } else if (key == "secure") {
            cookie.secure = true;
        }
    }

    std::lock_guard<std::mutex> lock(mutex_);
    auto same = std::find_if(cookies_.begin(), cookies_.end(), [&](const Cookie& c) {
        return c.name == cookie.name && c.domain == cookie.domain && c.path == cookie.path;
    });
    if (same != cookies_.end()) {
        *same = std::move(cookie);
    } else {
        cookies_.push_back(std::move(cookie));
    }
    return 0;
}

std::string CookieJar::HeaderFor(bool secure, const std::string& host,
                                 const std::string& path) const {
    std::string header;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Cookie& cookie : cookies_) {
        if (cookie.secure && !secure) continue;
        if (!DomainMatches(host, cookie.domain, cookie.hostOnly)) continue;
        if (!PathMatches(path.empty() ? "/" : path, cookie.path)) continue;
        if (!header.empty()) header += "; ";
        header += cookie.name + "=" + cookie.value;
    }
    return header;
}

}  // namespace platform::internet
