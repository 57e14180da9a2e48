// The urlencoded form POST. Its shape is that of Get; it differs in the verb, the flags, an
// added User-Agent, the body with its content type on the send, a redirect needing
// confirmation taken as an answer, and a status check after every successful send.
#include "form/url_encoded_body.h"
#include "session/heap_body.h"
#include "session/transfer_session.h"

namespace {

constexpr const char kHandleNotOpened[] = "handle not opened...";
constexpr const char kRequestFailedDots[] = "request failed...";
constexpr const char kRequestFailed[] = "request failed";
constexpr const char kRequestCanceled[] = "request canceled...";
constexpr int kMaxAttempts = 5;
constexpr int kMaxFailedSends = 10;
constexpr DWORD kProxyAuthenticationRequired = 407;

constexpr DWORD kPostFlags =
    INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_FORMS_SUBMIT;
constexpr DWORD kSecureFlags = INTERNET_FLAG_SECURE | INTERNET_FLAG_IGNORE_CERT_CN_INVALID |
                               INTERNET_FLAG_IGNORE_CERT_DATE_INVALID;
constexpr const char kUserAgentHeader[] =
    "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1;)\r\n";
constexpr const char kFormContentType[] = "Content-Type: application/x-www-form-urlencoded\r\n";

}  // namespace

bool TransferSession::PostForm(const char* path, const char* referrer) {
    if (!IsOpenHandle(m_hConnect)) throw kHandleNotOpened;
    m_cancelled = false;

    OpenRequest("POST", path, referrer,
                m_mode == ModeHttps ? kPostFlags | kSecureFlags : kPostFlags);
    AddHeader("Accept: */*\r\n", HTTP_ADDREQ_FLAG_REPLACE);
    AddHeader(kUserAgentHeader, HTTP_ADDREQ_FLAG_ADD_IF_NEW);
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
