#include "platform/posix/http/text_rules.h"

#include <cctype>

namespace zemuser::platform::http {

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

bool IsAbsoluteUrl(std::string_view text) {
    std::string_view scheme, rest;
    return SplitScheme(text, &scheme, &rest) && rest.substr(0, 2) == "//";
}

std::string PercentEncode(std::string_view text, bool (*unsafe)(unsigned char)) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (unsafe(c)) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        } else {
            out += ch;
        }
    }
    return out;
}

}  // namespace zemuser::platform::http
