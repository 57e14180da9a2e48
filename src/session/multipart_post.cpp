// The multipart POST: the request is started with the whole length announced, the body goes
// out in one write from memory, and the request is then ended. Attempts repeat the same body.
#include <cstdio>

#include "form/multipart_body.h"
#include "session/heap_body.h"
#include "session/transfer_session.h"

namespace {

constexpr const char kHandleNotOpened[] = "handle not opened...";
constexpr const char kRequestFailedDots[] = "request failed...";
constexpr const char kRequestFailed[] = "request failed";
constexpr int kMaxAttempts = 5;
constexpr int kMaxFailedStarts = 10;
constexpr DWORD kProxyAuthenticationRequired = 407;

constexpr DWORD kPostFlags =
    INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_FORMS_SUBMIT;
constexpr DWORD kSecureFlags = INTERNET_FLAG_SECURE | INTERNET_FLAG_IGNORE_CERT_CN_INVALID |
                               INTERNET_FLAG_IGNORE_CERT_DATE_INVALID;
constexpr const char kBoundary[] = "--MULTI-PARTS-FORM-DATA-BOUNDARY";

}  // namespace

bool TransferSession::PostMultipart(const char* path, const char* referrer) {
    if (!IsOpenHandle(m_hConnect)) throw kHandleNotOpened;
    m_cancelled = false;

    OpenRequest("POST", path, referrer,
                m_mode == ModeHttps ? kPostFlags | kSecureFlags : kPostFlags);
    AddHeader("Accept: */*\r\n", HTTP_ADDREQ_FLAG_REPLACE);
    AddHeader("Content-Type: multipart/form-data; boundary=--MULTI-PARTS-FORM-DATA-BOUNDARY\r\n",
              HTTP_ADDREQ_FLAG_ADD_IF_NEW);
    AddHeader("Proxy-Connection: Keep-Alive\r\n", HTTP_ADDREQ_FLAG_ADD_IF_NEW);
    AddHeader("User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1;)\r\n",
              HTTP_ADDREQ_FLAG_REPLACE | HTTP_ADDREQ_FLAG_ADD);
    SetCookies(path);

    // The files of file fields are read here, once, and closed before anything is sent.
    char* block = nullptr;
    std::uint32_t length = BuildMultipartBody(m_fields, &block, kBoundary);
    HeapBody body(block);
    if (!body) throw kRequestFailedDots;

    char contentLength[40];
    std::snprintf(contentLength, sizeof(contentLength), "Content-Length: %u\r\n", length);
    AddHeader(contentLength, HTTP_ADDREQ_FLAG_ADD_IF_NEW);

    INTERNET_BUFFERSA buffers{};
    buffers.dwStructSize = sizeof(buffers);
    buffers.dwBufferTotal = length;

    for (int attempts = 1;; ++attempts) {
        if (attempts > kMaxAttempts) throw kRequestFailed;
        int failedStarts = 0;
        while (!HttpSendRequestExA(m_hRequest, &buffers, nullptr, HSR_INITIATE, 0)) {
            switch (GetLastError()) {
                case ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED:
                    SelectClientCertificate();
                    break;
                case ERROR_INTERNET_INVALID_CA:
                    IgnoreUnknownAuthority();
                    break;
                default:
                    break;
            }
            if (++failedStarts == kMaxFailedStarts) throw kRequestFailed;
        }

        DWORD written = 0;
        if (!InternetWriteFile(m_hRequest, body.get(), length, &written)) throw kRequestFailed;

        if (HttpEndRequestA(m_hRequest, nullptr, HSR_INITIATE, 0)) {
            if (QueryStatusCode() != static_cast<std::int32_t>(kProxyAuthenticationRequired)) {
                return true;
            }
            if (attempts <= 2) {
                ApplyProxyCredentials();
            } else if (ShowProxyDialog() != ERROR_INTERNET_FORCE_RETRY) {
                return true;
            }
            continue;
        }

        DWORD error = GetLastError();
        if (error == ERROR_INTERNET_FORCE_RETRY) continue;
        if (error == kProxyAuthenticationRequired) {
            if (attempts <= 2) {
                ApplyProxyCredentials();
                continue;
            }
            DWORD answer = ShowProxyDialog();
            if (answer == ERROR_INTERNET_FORCE_RETRY) continue;
            error = answer;
        }
        body.reset();
        if (error == ERROR_HTTP_REDIRECT_NEEDS_CONFIRMATION) return FollowRedirect(m_hRequest);
        SetLastError(error);
        throw kRequestFailed;
    }
}
