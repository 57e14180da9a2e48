// Scheme names of URLs: the number and default port the internet interface gives each one.
#pragma once

#include <string>
#include <string_view>

#include "platform/posix/wininet.h"

namespace platform::internet {

struct SchemeInfo {
    INTERNET_SCHEME number = INTERNET_SCHEME_UNKNOWN;
    INTERNET_PORT defaultPort = 0;
};

// Lookup by scheme name, case-insensitive.
SchemeInfo LookupScheme(std::string_view name);

// Splits "scheme:rest". False when the text does not start with a well-formed scheme name.
bool SplitScheme(std::string_view url, std::string_view* scheme, std::string_view* rest);

std::string ToLower(std::string_view text);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace platform::internet
