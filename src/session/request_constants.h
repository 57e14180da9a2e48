// The failure texts, flags, headers and bounds the three request operations share.
#pragma once

#include "platform/platform.h"

namespace request {

constexpr const char kHandleNotOpened[] = "handle not opened...";
constexpr const char kRequestFailedDots[] = "request failed...";
constexpr const char kRequestFailed[] = "request failed";
constexpr const char kRequestCanceled[] = "request canceled...";
constexpr const char kAdditionalHeaderFailed[] = "additional header failed...";
constexpr const char kAddCookieFailed[] = "add cookie failed...";

// At most 5 attempts of at most 10 failed sends each: every loop ends.
constexpr int kMaxAttempts = 5;
constexpr int kMaxFailedSends = 10;
// The proxy-authentication status, compared with last-error values as well as statuses.
constexpr DWORD kProxyAuthenticationRequired = 407;

constexpr DWORD kSecureFlags = INTERNET_FLAG_SECURE | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID |
                               INTERNET_FLAG_IGNORE_CERT_CN_INVALID;
constexpr DWORD kGetFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION;
constexpr DWORD kPostFlags =
    INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_FORMS_SUBMIT;

constexpr const char kAcceptHeader[] = "Accept: */*\r\n";
constexpr const char kPostUserAgentHeader[] =
    "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1;)\r\n";

}  // namespace request
