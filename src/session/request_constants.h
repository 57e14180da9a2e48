// The failure texts, headers and bounds the three request operations share.
#pragma once

#include "platform/http_transport.h"

namespace zemuser::request {

constexpr const char kHandleNotOpened[] = "handle not opened...";
constexpr const char kRequestFailedDots[] = "request failed...";
constexpr const char kRequestFailed[] = "request failed";
constexpr const char kRequestCanceled[] = "request canceled...";
constexpr const char kAdditionalHeaderFailed[] = "additional header failed...";
constexpr const char kAddCookieFailed[] = "add cookie failed...";

// At most 5 attempts of at most 10 failed sends each: every loop ends.
constexpr int kMaxAttempts = 5;
constexpr int kMaxFailedSends = 10;
// The status of an answer in which the proxy asks for credentials.
constexpr int kProxyAuthenticationRequired = 407;

constexpr const char kAcceptHeader[] = "Accept: */*\r\n";
constexpr const char kPostUserAgentHeader[] =
    "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1;)\r\n";

// What the requests promise about caches and the connection: a GET reloads and keeps nothing
// in a cache; a POST submits a form.
inline platform::RequestLine GetLine() {
    platform::RequestLine line;
    line.reload = true;
    line.writeToCache = false;
    line.keepConnection = true;
    return line;
}

inline platform::RequestLine PostLine() {
    platform::RequestLine line;
    line.writeToCache = false;
    line.keepConnection = true;
    line.formSubmission = true;
    return line;
}

}  // namespace zemuser::request
