// The multipart POST: the request is started with the whole length announced, the body goes
// out in one write from memory, and the request is then ended. Attempts repeat the same body.
#include <cstdio>

#include "form/multipart_body.h"
#include "session/heap_body.h"
#include "session/request_constants.h"
#include "session/transfer_session.h"

using namespace request;

namespace {

constexpr const char kBoundary[] = "--MULTI-PARTS-FORM-DATA-BOUNDARY";

}  // namespace

bool TransferSession::PostMultipart(const char* path, const char* referrer) {
    BeginRequest("POST", path, referrer, kPostFlags);
    AddHeader("Content-Type: multipart/form-data; boundary=--MULTI-PARTS-FORM-DATA-BOUNDARY\r\n",
              HTTP_ADDREQ_FLAG_ADD_IF_NEW);
    AddHeader("Proxy-Connection: Keep-Alive\r\n", HTTP_ADDREQ_FLAG_ADD_IF_NEW);
    AddHeader(kPostUserAgentHeader, HTTP_ADDREQ_FLAG_REPLACE | HTTP_ADDREQ_FLAG_ADD);
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
            AnswerCertificatePrompt(GetLastError());
            if (++failedStarts == kMaxFailedSends) throw kRequestFailed;
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
