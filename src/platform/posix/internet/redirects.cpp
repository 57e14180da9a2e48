#include "platform/posix/internet/redirects.h"

#include <curl/curl.h>

#include <cstdlib>
#include <memory>

#include "platform/posix/internet/url_scheme.h"

namespace platform::internet {
namespace {

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct TextDeleter {
    void operator()(char* text) const { curl_free(text); }
};

bool GetPart(CURLU* url, CURLUPart part, unsigned flags, std::string* out) {
    char* raw = nullptr;
    if (curl_url_get(url, part, &raw, flags) != CURLUE_OK) return false;
    std::unique_ptr<char, TextDeleter> text(raw);
    *out = text.get();
    return true;
}

bool IsRedirectStatus(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::string HostForUrl(const std::string& host) {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

}  // namespace

bool IsAbsoluteUrl(const std::string& text) {
    std::string_view scheme, rest;
    return SplitScheme(text, &scheme, &rest) && rest.substr(0, 2) == "//";
}

std::string RequestTarget(const std::string& objectName) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string target;
    if (objectName.empty() ||
        (objectName[0] != '/' && objectName != "*" && !IsAbsoluteUrl(objectName))) {
        target = "/";
    }
    for (char ch : objectName) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c == 0x7F) {
            target += '%';
            target += kHex[c >> 4];
            target += kHex[c & 0x0F];
        } else {
            target += ch;
        }
    }
    return target;
}

std::string DestinationUrl(const Destination& destination) {
    if (destination.absoluteTarget) return destination.target;
    const bool defaultPort = destination.port == (destination.secure ? 443 : 80);
    std::string url = destination.secure ? "https://" : "http://";
    url += HostForUrl(destination.host);
    if (!defaultPort) url += ":" + std::to_string(destination.port);
    return url + destination.target;
}

RedirectStep DecideRedirect(const Destination& current, const ResponseHead& head,
                            Destination* next) {
    const std::string* location = head.Find("Location");
    if (!IsRedirectStatus(head.status) || location == nullptr || location->empty()) {
        return RedirectStep::None;
    }
    std::unique_ptr<CURLU, UrlDeleter> url(curl_url());
    const unsigned flags = CURLU_NON_SUPPORT_SCHEME | CURLU_ALLOW_SPACE;
    if (!url ||
        curl_url_set(url.get(), CURLUPART_URL, DestinationUrl(current).c_str(), flags) !=
            CURLUE_OK ||
        curl_url_set(url.get(), CURLUPART_URL, location->c_str(), flags) != CURLUE_OK) {
        return RedirectStep::Failed;
    }
    std::string scheme, host, port, path, query;
    if (!GetPart(url.get(), CURLUPART_SCHEME, 0, &scheme)) return RedirectStep::Failed;
    const std::string currentScheme = current.secure ? "https" : "http";
    // Another scheme is the caller's decision, as is repeating a body at a new place.
    if (ToLower(scheme) != currentScheme) return RedirectStep::NeedsConfirmation;
    const bool bodyless = current.verb == "GET" || current.verb == "HEAD";
    if (!bodyless && (head.status == 307 || head.status == 308)) {
        return RedirectStep::NeedsConfirmation;
    }
    if (!GetPart(url.get(), CURLUPART_HOST, 0, &host) ||
        !GetPart(url.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT, &port) ||
        !GetPart(url.get(), CURLUPART_PATH, 0, &path)) {
        return RedirectStep::Failed;
    }
    GetPart(url.get(), CURLUPART_QUERY, 0, &query);
    if (host.size() > 2 && host.front() == '[') host = host.substr(1, host.size() - 2);

    *next = current;
    next->host = host;
    next->port = static_cast<INTERNET_PORT>(std::strtoul(port.c_str(), nullptr, 10));
    next->target = RequestTarget(query.empty() ? path : path + "?" + query);
    next->absoluteTarget = false;
    if (!bodyless) {
        next->verb = "GET";
        next->hasBody = false;
        next->bodyLength = 0;
    }
    return RedirectStep::Follow;
}

}  // namespace platform::internet
