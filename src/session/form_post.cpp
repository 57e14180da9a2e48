// The urlencoded form POST. Its shape is that of Get; it differs in the verb, the flags, an
// added User-Agent, the body with its content type on the send, a redirect needing
// confirmation taken as an answer, and a status check after every successful send.
#include "form/url_encoded_body.h"
#include "session/heap_body.h"
#include "session/request_constants.h"
#include "session/transfer_session.h"

using namespace request;

namespace {

constexpr const char kFormContentType[] = "Content-Type: application/x-www-form-urlencoded\r\n";

}  // namespace

bool TransferSession::PostForm(const char* path, const char* referrer) {
    BeginRequest("POST", path, referrer, kPostFlags);
    AddHeader(kPostUserAgentHeader, HTTP_ADDREQ_FLAG_ADD_IF_NEW);
    SetCookies(path);

    std::uint32_t length = UrlEncodedBodyLength(m_fields);
    // A non-empty list whose body would not fit 32 bits measures 0.
    if (length == 0 && !m_fields.Empty()) throw kRequestFailedDots;
    HeapBody body(static_cast<char*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, length + 1)));
    if (!body) throw kRequestFailedDots;
    std::uint32_t bodyLength = BuildUrlEncodedBody(m_fields, body.get(), length + 1);

    for (int attempts = 1;; ++attempts) {
        if (attempts > kMaxAttempts) throw kRequestFailed;
        int failedSends = 0;
        while (!HttpSendRequestA(m_hRequest, kFormContentType, sizeof(kFormContentType) - 1,
                                 body.get(), bodyLength)) {
            DWORD error = GetLastError();
            if (error == ERROR_HTTP_REDIRECT_NEEDS_CONFIRMATION) break;
            switch (error) {
                case kProxyAuthenticationRequired:
                    if (attempts > 2) {
                        if (ShowProxyDialog() != ERROR_INTERNET_FORCE_RETRY) throw kRequestCanceled;
                    } else {
                        ApplyProxyCredentials();
                    }
                    break;
                default:
                    AnswerCertificatePrompt(error);
                    break;
            }
            if (++failedSends == kMaxFailedSends) throw kRequestFailedDots;
        }

        if (QueryStatusCode() != static_cast<std::int32_t>(kProxyAuthenticationRequired)) {
            return true;
        }
        if (attempts <= 2) {
            ApplyProxyCredentials();
        } else if (ShowProxyDialog() != ERROR_INTERNET_FORCE_RETRY) {
            return true;
        }
    }
}
