#include "session/url_split.h"

#include "session/connect_mode.h"

namespace zemuser {

std::uint32_t ServiceCodeForScheme(platform::UrlScheme scheme) {
    switch (scheme) {
        case platform::UrlScheme::Ftp:
            return 1;
        case platform::UrlScheme::Gopher:
            return 2;
        case platform::UrlScheme::Http:
            return ServiceHttp;
        case platform::UrlScheme::Https:
            return ServiceHttps;
        case platform::UrlScheme::File:
            return 0x1001;
        case platform::UrlScheme::News:
            return 0x1006;
        case platform::UrlScheme::Mailto:
            return 0x1002;
        case platform::UrlScheme::Other:
            break;
    }
    return ServiceUnknown;
}

bool SplitUrl(const char* url, std::uint32_t* serviceCode, std::string* host, std::string* path,
              std::uint16_t* port) {
    *serviceCode = ServiceUnknown;
    if (url == nullptr) return false;
    platform::CrackedUrl cracked;
    if (!platform::CrackUrl(url, &cracked)) return false;
    *host = std::move(cracked.host);
    *path = std::move(cracked.path);
    *port = cracked.port;
    *serviceCode = ServiceCodeForScheme(cracked.scheme);
    return true;
}

}  // namespace zemuser
