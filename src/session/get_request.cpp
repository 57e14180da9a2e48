// The GET request: open, headers, cookies, and a send loop of at most 5 attempts of at most
// 10 failed sends, with the certificate, proxy and redirect prompts answered on the way.
#include "session/request_constants.h"
#include "session/transfer_session.h"

namespace zemuser {

using namespace request;

RequestResult TransferSession::Get(const char* path, const char* referrer) {
    std::shared_ptr<platform::HttpRequest> request;
    if (auto failure = BeginRequest("GET", path, referrer, GetLine(), {}, &request)) {
        return *failure;
    }

    platform::SendResult sent;
    for (int attempts = 1;; ++attempts) {
        if (attempts > kMaxAttempts) return Failure{kRequestFailed, sent.code};
        int failedSends = 0;
        while (!(sent = request->Send(nullptr, nullptr, 0)).answered) {
            switch (sent.signal) {
                case platform::SendSignal::ProxyAuthentication:
                    if (failedSends >= 2) {
                        if (!AskProxyCredentials()) return Failure{kRequestCanceled, sent.code};
                    } else {
                        ApplyProxyCredentials();
                    }
                    break;
                case platform::SendSignal::RedirectNeedsConfirmation:
                    return RequestResult::From(FollowRedirect(*request));
                default:
                    AnswerCertificatePrompt(sent.signal);
                    break;
            }
            if (++failedSends == kMaxFailedSends) return Failure{kRequestFailedDots, sent.code};
        }

        if (sent.signal == platform::SendSignal::RetryRequested) continue;
        if (sent.signal != platform::SendSignal::ProxyAuthentication || !RetryForProxy(attempts)) {
            return RequestResult::Answered();
        }
    }
}

}  // namespace zemuser
