// The multipart POST: the request is started with the whole length announced, the body goes
// out in one write from memory, and the request is then ended. Attempts repeat the same body.
#include <cstdio>

#include "form/multipart_body.h"
#include "session/request_constants.h"
#include "session/transfer_session.h"

namespace zemuser {

using namespace request;

namespace {

constexpr const char kBoundary[] = "--MULTI-PARTS-FORM-DATA-BOUNDARY";
constexpr const char kMultipartContentType[] =
    "Content-Type: multipart/form-data; boundary=--MULTI-PARTS-FORM-DATA-BOUNDARY\r\n";

}  // namespace

RequestResult TransferSession::PostMultipart(const char* path, const char* referrer) {
    using Mode = platform::HeaderMode;
    std::shared_ptr<platform::HttpRequest> request;
    if (auto failure = BeginRequest("POST", path, referrer, PostLine(),
                                    {{kMultipartContentType, Mode::AddIfNew},
                                     {"Proxy-Connection: Keep-Alive\r\n", Mode::AddIfNew},
                                     {kPostUserAgentHeader, Mode::ReplaceOrAdd}},
                                    &request)) {
        return *failure;
    }
    // The files of file fields are read here, once, and closed before anything is sent.
    BodyBlock body;
    const std::uint32_t length = BuildMultipartBody(m_fields, &body, kBoundary);
    if (!body) return Failure{kRequestFailedDots};
    char contentLength[40];
    std::snprintf(contentLength, sizeof(contentLength), "Content-Length: %u\r\n", length);
    if (auto failure = AddHeader(contentLength, Mode::AddIfNew)) return *failure;

    platform::SendResult sent;
    for (int attempts = 1;; ++attempts) {
        if (attempts > kMaxAttempts) return Failure{kRequestFailed, sent.code};
        int failedStarts = 0;
        while (!(sent = request->StartSend(length)).answered) {
            AnswerCertificatePrompt(sent.signal);
            if (++failedStarts == kMaxFailedSends) return Failure{kRequestFailed, sent.code};
        }
        if (platform::ErrorCode code = request->WriteBody(body.get(), length)) {
            return Failure{kRequestFailed, code};
        }
        sent = request->EndSend();
        if (sent.answered) {
            if (QueryStatusCode() != kProxyAuthenticationRequired || !RetryForProxy(attempts)) {
                return RequestResult::Answered();
            }
            continue;
        }
        if (sent.signal == platform::SendSignal::RetryRequested) continue;
        if (sent.signal == platform::SendSignal::ProxyAuthentication && RetryForProxy(attempts)) {
            continue;
        }
        body.reset();
        if (sent.signal == platform::SendSignal::RedirectNeedsConfirmation) {
            return RequestResult::From(FollowRedirect(*request));
        }
        return Failure{kRequestFailed, sent.code};
    }
}

}  // namespace zemuser
