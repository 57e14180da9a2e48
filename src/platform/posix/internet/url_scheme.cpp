#include "platform/posix/internet/url_scheme.h"

#include <cctype>

namespace platform::internet {

std::string ToLower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

SchemeInfo LookupScheme(std::string_view name) {
    struct Entry {
        const char* name;
        SchemeInfo info;
    };
    static const Entry kSchemes[] = {
        {"ftp", {INTERNET_SCHEME_FTP, 21}},      {"gopher", {INTERNET_SCHEME_GOPHER, 70}},
        {"http", {INTERNET_SCHEME_HTTP, 80}},    {"https", {INTERNET_SCHEME_HTTPS, 443}},
        {"file", {INTERNET_SCHEME_FILE, 0}},     {"news", {INTERNET_SCHEME_NEWS, 0}},
        {"mailto", {INTERNET_SCHEME_MAILTO, 0}},
    };
    for (const Entry& entry : kSchemes) {
        if (EqualsIgnoreCase(name, entry.name)) return entry.info;
    }
    return {};
}

bool SplitScheme(std::string_view url, std::string_view* scheme, std::string_view* rest) {
    const std::size_t colon = url.find(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    if (!std::isalpha(static_cast<unsigned char>(url[0]))) return false;
    for (std::size_t i = 1; i < colon; ++i) {
        const unsigned char c = static_cast<unsigned char>(url[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return false;
    }
    *scheme = url.substr(0, colon);
    *rest = url.substr(colon + 1);
    return true;
}

}  // namespace platform::internet
