// Cookies the caller sets: added to the transfer library's process-wide jar, which also keeps
// what servers set, and sends both back to matching requests.
#include <algorithm>
#include <string>

#include "platform/http_transport.h"
#include "platform/posix/http/curl_library.h"
#include "platform/posix/http/error_codes.h"

namespace zemuser::platform {

using namespace http;

// The cookie belongs to the URL's host alone and to the folder of its path; the value is taken
// as it stands: no attributes are read from it.
ErrorCode SetCookie(const char* url, const char* name, const char* value) {
    CrackedUrl cracked;
    if (url == nullptr || value == nullptr) return kInvalidParameter;
    if (!CrackUrl(url, &cracked) || cracked.host.empty()) return kInvalidUrl;
    const std::string cookie =
        name != nullptr && *name != '\0' ? std::string(name) + "=" + value : std::string(value);
    const std::size_t equals = cookie.find('=');
    // Control characters (tabs too: they separate the fields of the jar's lines) could split
    // the request the cookie goes with.
    if (equals == 0 || equals == std::string::npos ||
        std::any_of(cookie.begin(), cookie.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; })) {
        return kInvalidParameter;
    }
    const std::string path = cracked.path.substr(0, cracked.path.find_first_of("?#"));
    const std::size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
    // The jar's own line format: domain, subdomains, path, secure, expiry (0: for the
    // session), name, value.
    const std::string line = cracked.host + "\tFALSE\t" + folder + "\tFALSE\t0\t" +
                             cookie.substr(0, equals) + "\t" + cookie.substr(equals + 1);
    std::unique_ptr<TransferPair> pair = TakePair();
    if (!pair) return kNotEnoughMemory;
    const bool added = curl_easy_setopt(pair->easy, CURLOPT_SHARE, CookieShare()) == CURLE_OK &&
                       curl_easy_setopt(pair->easy, CURLOPT_COOKIELIST, line.c_str()) == CURLE_OK;
    ReturnPair(std::move(pair), false);
    return added ? kNoError : kNotEnoughMemory;
}

}  // namespace zemuser::platform
