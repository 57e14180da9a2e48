// The GET request: open, headers, cookies, and a send loop of at most 5 attempts of at most
// 10 failed sends, with the certificate, proxy and redirect prompts answered on the way.
#include "session/request_constants.h"
#include "session/transfer_session.h"

using namespace request;

bool TransferSession::Get(const char* path, const char* referrer) {
    BeginRequest("GET", path, referrer, kGetFlags);
    SetCookies(path);

    for (int attempts = 1;; ++attempts) {
        if (attempts > kMaxAttempts) throw kRequestFailed;
        int failedSends = 0;
        while (!HttpSendRequestA(m_hRequest, nullptr, 0, nullptr, 0)) {
            DWORD error = GetLastError();
            switch (error) {
                case kProxyAuthenticationRequired:
                    if (failedSends >= 2) {
                        if (ShowProxyDialog() != ERROR_INTERNET_FORCE_RETRY) throw kRequestCanceled;
                    } else {
                        ApplyProxyCredentials();
                    }
                    break;
                case ERROR_HTTP_REDIRECT_NEEDS_CONFIRMATION:
                    return FollowRedirect(m_hRequest);
                default:
                    AnswerCertificatePrompt(error);
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
