// The urlencoded form POST. Its shape is that of Get; it differs in the verb, the flags, an
// added User-Agent, the body with its content type on the send, a redirect needing
// confirmation taken as an answer, and a status check after every successful send.
#include "form/body_block.h"
#include "form/url_encoded_body.h"
#include "session/request_constants.h"
#include "session/transfer_session.h"

namespace zemuser {

using namespace request;

namespace {

constexpr const char kFormContentType[] = "Content-Type: application/x-www-form-urlencoded\r\n";

}  // namespace

RequestResult TransferSession::PostForm(const char* path, const char* referrer) {
    std::shared_ptr<platform::HttpRequest> request;
    if (auto failure =
            BeginRequest("POST", path, referrer, PostLine(),
                         {{kPostUserAgentHeader, platform::HeaderMode::AddIfNew}}, &request)) {
        return *failure;
    }

    const std::uint32_t length = UrlEncodedBodyLength(m_fields);
    // A non-empty list whose body would not fit 32 bits measures 0.
    if (length == 0 && !m_fields.empty()) return Failure{kRequestFailedDots};
    BodyBlock body = AllocateBody(length + std::size_t{1});
    if (!body) return Failure{kRequestFailedDots};
    const std::uint32_t bodyLength = BuildUrlEncodedBody(m_fields, body.get(), length + 1);

    platform::SendResult sent;
    for (int attempts = 1;; ++attempts) {
        if (attempts > kMaxAttempts) return Failure{kRequestFailed, sent.code};
        int failedSends = 0;
        while (!(sent = request->Send(kFormContentType, body.get(), bodyLength)).answered) {
            if (sent.signal == platform::SendSignal::RedirectNeedsConfirmation) break;
            if (sent.signal == platform::SendSignal::ProxyAuthentication) {
                if (attempts > 2) {
                    if (!AskProxyCredentials()) return Failure{kRequestCanceled, sent.code};
                } else {
                    ApplyProxyCredentials();
                }
            } else {
                AnswerCertificatePrompt(sent.signal);
            }
            if (++failedSends == kMaxFailedSends) return Failure{kRequestFailedDots, sent.code};
        }

        if (QueryStatusCode() != kProxyAuthenticationRequired || !RetryForProxy(attempts)) {
            return RequestResult::Answered();
        }
    }
}

}  // namespace zemuser
