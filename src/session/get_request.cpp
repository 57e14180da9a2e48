// The GET request: open, headers, cookies, and a send loop of at most 5 attempts of at most
// 10 failed sends, with the certificate, proxy and redirect prompts answered on the way.
#include "session/transfer_session.h"

namespace {

constexpr const char kHandleNotOpened[] = "handle not opened...";
constexpr const char kRequestFailedDots[] = "request failed...";
constexpr const char kRequestFailed[] = "request failed";
constexpr const char kRequestCanceled[] = "request canceled...";
constexpr int kMaxAttempts = 5;
constexpr int kMaxFailedSends = 10;
constexpr DWORD kProxyAuthenticationRequired = 407;

constexpr DWORD kGetFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION;
constexpr DWORD kSecureFlags = INTERNET_FLAG_SECURE | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID |
                               INTERNET_FLAG_IGNORE_CERT_CN_INVALID;

}  // namespace

bool TransferSession::Get(const char* path, const char* referrer) {
    if (!IsOpenHandle(m_hConnect)) throw kHandleNotOpened;
    m_cancelled = false;

    OpenRequest("GET", path, referrer, m_mode == ModeHttps ? kGetFlags | kSecureFlags : kGetFlags);
    AddHeader("Accept: */*\r\n", HTTP_ADDREQ_FLAG_REPLACE);
    SetCookies(path);

    for (int attempts = 1;; ++attempts) {
        if (attempts > kMaxAttempts) throw kRequestFailed;
        int failedSends = 0;
        while (!HttpSendRequestA(m_hRequest, nullptr, 0, nullptr, 0)) {
            switch (GetLastError()) {
                case kProxyAuthenticationRequired:
                    if (failedSends >= 2) {
                        if (ShowProxyDialog() != ERROR_INTERNET_FORCE_RETRY) throw kRequestCanceled;
                    } else {
                        ApplyProxyCredentials();
                    }
                    break;
                case ERROR_HTTP_REDIRECT_NEEDS_CONFIRMATION:
                    return FollowRedirect(m_hRequest);
                case ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED:
                    SelectClientCertificate();
                    break;
                case ERROR_INTERNET_INVALID_CA:
                    IgnoreUnknownAuthority();
                    break;
                default:
                    break;
            }
            if (++failedSends == kMaxFailedSends) throw kRequestFailedDots;
        }

        // The answer's last-error value, read before any other platform call.
        DWORD answered = GetLastError();
        if (answered == ERROR_INTERNET_FORCE_RETRY) continue;
        if (answered != kProxyAuthenticationRequired) return true;
        if (attempts >= 3) {
            if (ShowProxyDialog() != ERROR_INTERNET_FORCE_RETRY) return true;
        } else {
            ApplyProxyCredentials();
        }
    }
}
