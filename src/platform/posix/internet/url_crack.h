// Splits a URL into the parts the URL cracker reports, as views into the text given.
#pragma once

#include <string_view>

#include "platform/posix/wininet.h"

namespace platform::internet {

struct UrlParts {
    std::string_view scheme;
    INTERNET_SCHEME schemeNumber = INTERNET_SCHEME_UNKNOWN;
    std::string_view userName;
    std::string_view password;
    std::string_view hostName;
    INTERNET_PORT port = 0;  // the scheme's default when the URL names none
    std::string_view path;   // from the first "/" after the host up to the query
    std::string_view extra;  // the query and fragment, "?" or "#" included
};

// Returns 0 and fills `parts`, or the error code of a text that is not a URL.
DWORD CrackUrl(std::string_view url, UrlParts* parts);

}  // namespace platform::internet
