// Cookies the caller sets: added to the transfer library's process-wide jar, which also keeps
// what servers set, and sends both back to matching requests.
#include <algorithm>
#include <string>
#include <string_view>

#include "platform/http_transport.h"
#include "platform/posix/http/curl_library.h"
#include "platform/posix/http/error_codes.h"
#include "platform/posix/http/text_rules.h"

namespace zemuser::platform {
namespace {

using namespace http;

std::string_view Trim(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

// Tabs included: they separate the fields of the jar's line format.
bool HasControlCharacters(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

bool DomainMatches(std::string_view host, std::string_view domain) {
    if (EqualsIgnoreCase(host, domain)) return true;
    if (host.size() <= domain.size()) return false;
    const std::size_t start = host.size() - domain.size();
    return host[start - 1] == '.' && EqualsIgnoreCase(host.substr(start), domain);
}

struct Cookie {
    std::string name, value, domain, path;
    bool subdomains = false;
    bool secure = false;
};

// `text` is the value, or "name=value", followed by optional "; path=...", "; domain=..." and
// "; secure" attributes.
ErrorCode Parse(const char* name, std::string_view text, Cookie* cookie) {
    std::size_t end = text.find(';');
    const std::string_view pair = Trim(text.substr(0, end));
    if (name != nullptr && *name != '\0') {
        cookie->name = name;
        cookie->value = std::string(pair);
    } else {
        const std::size_t equals = pair.find('=');
        if (equals == std::string_view::npos) return kInvalidParameter;
        cookie->name = std::string(Trim(pair.substr(0, equals)));
        cookie->value = std::string(Trim(pair.substr(equals + 1)));
    }
    if (cookie->name.empty() || cookie->name.find_first_of("=; ") != std::string::npos ||
        HasControlCharacters(cookie->name) || HasControlCharacters(text)) {
        return kInvalidParameter;
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
            cookie->path = std::string(value);
        } else if (key == "domain" && !value.empty()) {
            std::string domain = ToLower(value);
            if (domain.front() == '.') domain.erase(0, 1);
            // A cookie may only be widened to a domain that the URL's host belongs to.
            if (!DomainMatches(cookie->domain, domain)) return kInvalidParameter;
            cookie->domain = domain;
            cookie->subdomains = true;
        } else if (key == "secure") {
            cookie->secure = true;
        }
    }
    return kNoError;
}

}  // namespace

ErrorCode SetCookie(const char* url, const char* name, const char* value) {
    if (url == nullptr || value == nullptr) return kInvalidParameter;
    CrackedUrl cracked;
    if (!CrackUrl(url, &cracked) || cracked.host.empty()) return kInvalidUrl;
    Cookie cookie;
    cookie.domain = ToLower(cracked.host);
    // By default a cookie belongs to the folder of the URL's path.
    const std::string path = cracked.path.substr(0, cracked.path.find_first_of("?#"));
    const std::size_t slash = path.rfind('/');
    cookie.path = slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
    const ErrorCode error = Parse(name, value, &cookie);
    if (error != kNoError) return error;

    // The jar's own line format: domain, subdomains, path, secure, expiry (0: for the session),
    // name, value.
    const std::string line = cookie.domain + (cookie.subdomains ? "\tTRUE\t" : "\tFALSE\t") +
                             cookie.path + (cookie.secure ? "\tTRUE\t0\t" : "\tFALSE\t0\t") +
                             cookie.name + "\t" + cookie.value;
    std::unique_ptr<TransferPair> pair = TakePair();
    if (!pair) return kNotEnoughMemory;
    const bool added = curl_easy_setopt(pair->easy, CURLOPT_SHARE, CookieShare()) == CURLE_OK &&
                       curl_easy_setopt(pair->easy, CURLOPT_COOKIELIST, line.c_str()) == CURLE_OK;
    ReturnPair(std::move(pair), false);
    return added ? kNoError : kNotEnoughMemory;
}

}  // namespace zemuser::platform
