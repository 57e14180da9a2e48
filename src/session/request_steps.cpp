// Steps that Get, PostForm and PostMultipart share: opening the request, adding headers,
// setting cookies, and answering the certificate and proxy prompts of a failed send.
#include <cstdio>
#include <string>

#include "session/failure_report.h"
#include "session/request_constants.h"
#include "session/transfer_session.h"

namespace zemuser {

using namespace request;

namespace {

// Each confirmed redirect sends its request from inside the one that was redirected, so a
// server that redirects every request must not nest them without end (the stack would
// overflow). The same bound as for the redirects the transport follows by itself.
constexpr int kMostConfirmedRedirects = 10;
// The redirects the request chain now running on this thread has followed.
thread_local int confirmedRedirects = 0;

}  // namespace

std::optional<Failure> TransferSession::BeginRequest(
    const char* verb, const char* path, const char* referrer, platform::RequestLine line,
    std::initializer_list<HeaderLine> headers, std::shared_ptr<platform::HttpRequest>* opened) {
    auto connection = m_hConnect.Load();
    if (!connection) return Failure{kHandleNotOpened};
    m_cancelled = false;
    line.verb = verb;
    line.target = path;
    line.referrer = referrer;
    if (m_mode == static_cast<std::uint32_t>(ConnectMode::ModeHttps)) {
        line.secure = true;
        line.checkCertificateName = false;
        line.checkCertificateDate = false;
    }
    platform::ErrorCode code = platform::kNoError;
    auto request = connection->OpenRequest(line, &code);
    m_hRequest.Store(request);
    *opened = request;
    if (!request) return Failure{kRequestFailedDots, code};
    if (auto failure = AddHeader(kAcceptHeader, platform::HeaderMode::Replace)) return failure;
    for (const HeaderLine& header : headers) {
        if (auto failure = AddHeader(header.text, header.mode)) return failure;
    }
    return SetCookies(path);
}

std::optional<Failure> TransferSession::AddHeader(const char* header, platform::HeaderMode mode) {
    auto request = m_hRequest.Load();
    platform::ErrorCode code =
        request ? request->AddHeader(header, mode) : platform::kInvalidHandle;
    if (code != platform::kNoError) return Failure{kAdditionalHeaderFailed, code};
    return std::nullopt;
}

std::optional<Failure> TransferSession::SetCookies(const char* path) {
    if (m_cookies.empty()) return std::nullopt;
    const bool https = m_mode == static_cast<std::uint32_t>(ConnectMode::ModeHttps);
    std::string url = https ? "https://" : "http://";
    url += m_host;
    if (m_port != (https ? 443u : 80u)) {
        char port[16];
        std::snprintf(port, sizeof(port), ":%d", static_cast<int>(m_port));
        url += port;
    }
    url += path;
    for (const CookieEntry& cookie : m_cookies) {
        platform::ErrorCode code =
            platform::SetCookie(url.c_str(), cookie.name.c_str(), cookie.value.c_str());
        if (code != platform::kNoError) return Failure{kAddCookieFailed, code};
    }
    return std::nullopt;
}

void TransferSession::AnswerCertificatePrompt(platform::SendSignal signal) {
    auto request = m_hRequest.Load();
    if (!request) return;
    if (signal == platform::SendSignal::ClientCertificateWanted) request->ChooseClientCertificate();
    if (signal == platform::SendSignal::UnknownAuthority) request->AcceptUnknownAuthority();
}

bool TransferSession::AskProxyCredentials() {
    auto request = m_hRequest.Load();
    return request && request->AskProxyCredentials();
}

bool TransferSession::RetryForProxy(int attempts) {
    if (attempts > 2) return AskProxyCredentials();
    ApplyProxyCredentials();
    return true;
}

bool TransferSession::ApplyProxyCredentials() {
    if (auto connection = m_hConnect.Load()) {
        auto request = m_hRequest.Load();
        connection->SetProxyCredentials(m_proxyUser, m_proxyPassword, request.get());
    }
    return true;
}

bool TransferSession::FollowRedirect(platform::HttpRequest& request) {
    if (confirmedRedirects >= kMostConfirmedRedirects) return false;
    char location[1025] = {};
    std::uint32_t length = 1024;
    if (request.QueryHeader(platform::AnswerHeader::Location, location, &length) !=
        platform::kNoError) {
        return false;
    }
    struct Nesting {
        Nesting() { ++confirmedRedirects; }
        ~Nesting() { --confirmedRedirects; }
        Nesting(const Nesting&) = delete;
        Nesting& operator=(const Nesting&) = delete;
    } nesting;
    return SendRequest(location, RequestKind::RequestGet, nullptr);
}

void TransferSession::ReportOnRequest(Failure failure) {
    ReportRequestFailure(m_host.c_str(), static_cast<std::int32_t>(m_port), m_mode,
                         m_lastPath.c_str(), failure);
}

}  // namespace zemuser
