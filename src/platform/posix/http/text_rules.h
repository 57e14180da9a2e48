// Small text rules shared by headers, URLs and proxies.
#pragma once

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

namespace zemuser::platform::http {

inline std::string ToLower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

inline bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// "scheme://...".
bool IsAbsoluteUrl(std::string_view text);

// The object name made fit for the request line: control characters and spaces escaped, and a
// "/" in front of what is neither a path, "*" nor an absolute URL.
std::string RequestTarget(std::string_view objectName);

}  // namespace zemuser::platform::http
