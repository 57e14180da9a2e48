// Sending a request, whole or with the body in parts, and following the redirects that need
// no confirmation.
#include "platform/posix/http/error_codes.h"
#include "platform/posix/http/text_rules.h"
#include "platform/posix/http/transport_objects.h"

namespace zemuser::platform::http {
namespace {

constexpr int kMostRedirects = 10;

bool IsRedirect(int status) {
    return (status >= 301 && status <= 303) || status == 307 || status == 308;
}

}  // namespace

void Request::BeginSend(bool hasBody, std::uint64_t bodyLength) {
    exchange_.reset();
    inParts_ = false;
    written_ = 0;
    hop_ = Hop{connection_->host,
               connection_->port,
               target_,
               verb_,
               hasBody || verb_ == "POST" || verb_ == "PUT",
               bodyLength,
               headers_};
}

ErrorCode Request::StartHop() {
    exchange_.reset();
    ExchangeSettings settings;
    settings.proxy = ChooseProxy(secure_, hop_.host);
    const bool viaHttpProxy = !settings.proxy.url.empty() && settings.proxy.speaksHttp;
    settings.tunnel = viaHttpProxy && secure_;
    const std::string scheme = secure_ ? "https://" : "http://";
    const std::string host =
        hop_.host.find(':') == std::string::npos ? hop_.host : "[" + hop_.host + "]";
    const std::string port = ":" + std::to_string(hop_.port);
    // The library connects to the hop's own path, so that relative Locations resolve and
    // cookies match against it.
    settings.url = scheme + host + port + (hop_.target.rfind('/', 0) == 0 ? hop_.target : "/");
    settings.target = hop_.target;
    if (viaHttpProxy && !secure_ && !IsAbsoluteUrl(hop_.target)) {
        // A plain request through a proxy names the whole URL.
        settings.target = scheme + host + (hop_.port == 80 ? "" : port) + hop_.target;
    }
    settings.verb = hop_.verb;
    settings.http11 = http11_;
    const std::string& agent = connection_->session->agent;
    settings.headerLines =
        hop_.headers.LibraryLines(agent, hop_.hasBody, hop_.bodyLength, keepConnection_);
    if (settings.tunnel && !agent.empty()) settings.proxyHeaderLines = {"User-Agent: " + agent};
    {
        // Sent only in a scheme that a proxy offered when it asked; a proxy gets no
        // credentials of an empty name: it answers for itself.
        std::lock_guard<std::mutex> lock(connection_->credentialsMutex);
        const ProxyCredentials& credentials = connection_->proxyCredentials;
        if (viaHttpProxy && credentials.schemes != 0 && !credentials.user.empty()) {
            settings.proxyAuth = credentials.schemes;
            settings.proxyUser = credentials.user;
            settings.proxyPassword = credentials.password;
        }
    }
    settings.secure = secure_;
    settings.tls = {checkName_, !checkDate_, acceptUnknownIssuer_, clientCertificateChosen_};
    settings.hasBody = hop_.hasBody;
    settings.bodyLength = hop_.bodyLength;
    exchange_ = std::make_unique<Exchange>(std::move(settings), *life_);
    return exchange_->Start();
}

SendResult Request::Failed(ErrorCode code) {
    exchange_.reset();
    inParts_ = false;
    SendResult result;
    result.code = code;
    if (code == kUnknownAuthority) result.signal = SendSignal::UnknownAuthority;
    if (code == kClientCertificateNeeded) result.signal = SendSignal::ClientCertificateWanted;
    return result;
}

// After the head of an answer: follows the redirects that need no confirmation.
SendResult Request::FinishSend() {
    for (int hops = 0;; ++hops) {
        const int status = exchange_->status();
        // A 407 asks for proxy credentials unless the server sent it from inside a tunnel: that
        // one is an ordinary answer and must teach nothing. Without a proxy the credentials
        // have nowhere to go, and the caller's retries cost nothing more.
        const ProxyChoice& proxy = exchange_->settings().proxy;
        if (status == 407 && (exchange_->answeredByTunnelProxy() || proxy.url.empty() ||
                              (proxy.speaksHttp && !exchange_->settings().tunnel))) {
            // Credentials go out with the next send, in a scheme the proxy offered.
            if (const unsigned long schemes = exchange_->ProxySchemes(); schemes != 0) {
                std::lock_guard<std::mutex> lock(connection_->credentialsMutex);
                connection_->proxyCredentials.schemes = schemes;
            }
            return {true, SendSignal::ProxyAuthentication, kNoError};
        }
        std::string location;
        if (!IsRedirect(status) || !exchange_->Header("Location", &location) || location.empty()) {
            return {true, SendSignal::None, kNoError};
        }
        CrackedUrl next;
        if (!CrackUrl(exchange_->RedirectUrl().c_str(), &next)) return Failed(kRedirectFailed);
        // Another scheme is the caller's decision, as is repeating a body at a new place; the
        // answer stays readable for it.
        const bool bodyless = hop_.verb == "GET" || hop_.verb == "HEAD";
        if (next.scheme != (secure_ ? UrlScheme::Https : UrlScheme::Http) ||
            (!bodyless && (status == 307 || status == 308))) {
            return {false, SendSignal::RedirectNeedsConfirmation, kRedirectNeedsConfirmation};
        }
        if (hops == kMostRedirects) return Failed(kRedirectFailed);
        // A followed redirect never repeats a body: 301, 302 and 303 turn a POST into a GET.
        if (hop_.hasBody) hop_.headers.RemoveAll("Content-Type");
        hop_.host = next.host;
        hop_.port = next.port;
        hop_.target = RequestTarget(next.path.substr(0, next.path.find('#')));
        hop_.verb = bodyless ? hop_.verb : "GET";
        hop_.hasBody = false;
        hop_.bodyLength = 0;
        ErrorCode error = StartHop();
        if (error == kNoError) error = exchange_->WaitForAnswer();
        if (error != kNoError) return Failed(error);
    }
}

SendResult Request::Send(const char* extraHeaders, const void* body, std::uint32_t length) {
    if (life_->closed()) return Failed(kInvalidHandle);
    if (body == nullptr && length != 0) return Failed(kInvalidParameter);
    BeginSend(body != nullptr, length);
    ErrorCode error = kNoError;
    if (extraHeaders != nullptr && *extraHeaders != '\0') {
        error = hop_.headers.Apply(extraHeaders, HeaderMode::ReplaceOrAdd);
    }
    if (error == kNoError) error = StartHop();
    if (error == kNoError) error = exchange_->SendAndWait(static_cast<const char*>(body), length);
    return error == kNoError ? FinishSend() : Failed(error);
}

SendResult Request::StartSend(std::uint32_t bodyLength) {
    if (life_->closed()) return Failed(kInvalidHandle);
    BeginSend(true, bodyLength);
    // The head goes out now, so the connection and its handshake (and any certificate
    // question) happen here.
    ErrorCode error = StartHop();
    if (error == kNoError) error = exchange_->WaitUntilRequestSent();
    if (error != kNoError) return Failed(error);
    inParts_ = true;
    return {true, SendSignal::None, kNoError};  // the head has gone out
}

ErrorCode Request::WriteBody(const void* data, std::uint32_t size) {
    if (life_->closed()) return kInvalidHandle;
    if (!inParts_) return kIncorrectState;
    if (data == nullptr && size != 0) return kInvalidParameter;
    written_ += size;
    return exchange_->Upload(static_cast<const char*>(data), size);
}

SendResult Request::EndSend() {
    if (life_->closed()) return Failed(kInvalidHandle);
    if (!inParts_) return Failed(kIncorrectState);
    inParts_ = false;
    // A body shorter or longer than announced would leave the server waiting or reading the
    // next request from its tail: the exchange is dropped instead.
    if (written_ != hop_.bodyLength) return Failed(kInvalidParameter);
    const ErrorCode error = exchange_->WaitForAnswer();
    return error == kNoError ? FinishSend() : Failed(error);
}

}  // namespace zemuser::platform::http
