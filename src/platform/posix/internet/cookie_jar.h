// The process-wide, in-memory cookie jar behind InternetSetCookieA: cookies set for a URL go
// out on later requests whose URL they match.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/posix/windows_types.h"

namespace platform::internet {

class CookieJar {
  public:
    static CookieJar& Instance();

    // `name` may be null, then `data` holds "name=value" itself. Attributes after the value
    // ("; path=/x", "; domain=.example", "; secure") are honoured. Returns 0 or an error code.
    DWORD Set(const char* url, const char* name, const char* data);

    // "a=1; b=2" for a request to the URL's parts, or "" when no cookie matches.
    std::string HeaderFor(bool secure, const std::string& host, const std::string& path) const;

  private:
    struct Cookie {
        std::string name, value, domain, path;
        bool hostOnly = true;
        bool secure = false;
    };

    mutable std::mutex mutex_;
    std::vector<Cookie> cookies_;
};

}  // namespace platform::internet
