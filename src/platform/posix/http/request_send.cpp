// Sending a request, whole or with the body in parts, and following the redirects that need
// no confirmation; each hop is one exchange.
#include "platform/posix/http/error_codes.h"
#include "platform/posix/http/text_rules.h"
#include "platform/posix/http/transport_objects.h"

namespace zemuser::platform::http {
namespace {

constexpr int kMostRedirects = 10;

std::string HostForUrl(const std::string& host) {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

// The absolute URL a hop stands for, as a plain request through a proxy names it.
std::string AbsoluteUrl(const Destination& hop, bool secure) {
    if (IsAbsoluteUrl(hop.target)) return hop.target;
    const bool defaultPort = hop.port == (secure ? 443 : 80);
    return std::string(secure ? "https://" : "http://") + HostForUrl(hop.host) +
           (defaultPort ? "" : ":" + std::to_string(hop.port)) + hop.target;
}

// Where the library connects: the hop's own path, so that relative Locations resolve and
// cookies match against it.
std::string LibraryUrl(const Destination& hop, bool secure) {
    return std::string(secure ? "https://" : "http://") + HostForUrl(hop.host) + ":" +
           std::to_string(hop.port) + (hop.target.rfind('/', 0) == 0 ? hop.target : "/");
}

bool IsRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace

Destination Request::FirstHop(bool hasBody, std::uint64_t bodyLength) const {
    Destination hop;
    hop.host = connection_->host;
    hop.port = connection_->port;
    hop.target = target_;
    hop.verb = verb_;
    hop.hasBody = hasBody || verb_ == "POST" || verb_ == "PUT";
    hop.bodyLength = bodyLength;
    return hop;
}

ExchangeSettings Request::SettingsFor(const Destination& hop, const HeaderList& headers) const {
    ExchangeSettings settings;
    settings.proxy = ChooseProxy(secure_, hop.host);
    const bool viaHttpProxy = !settings.proxy.url.empty() && settings.proxy.speaksHttp;
    settings.tunnel = viaHttpProxy && secure_;
    settings.url = LibraryUrl(hop, secure_);
    settings.target = viaHttpProxy && !secure_ ? AbsoluteUrl(hop, secure_) : hop.target;
    settings.verb = hop.verb;
    settings.http11 = http11_;
    OutgoingHead head;
    head.headers = &headers;
    head.agent = connection_->session->agent;
    head.hasBody = hop.hasBody;
    head.bodyLength = hop.bodyLength;
    head.keepConnection = keepConnection_;
    settings.headerLines = LibraryHeaderLines(head);
    settings.agent = head.agent;
    {
        // The request's own credentials, else the connection's; sent only in a scheme that a
        // proxy offered when it asked.
        std::lock_guard<std::mutex> lock(connection_->credentialsMutex);
        const ProxyCredentials& own = ownProxyCredentials;
        const ProxyCredentials& chosen = own.set ? own : connection_->proxyCredentials;
        const unsigned long schemes =
            own.schemes != 0 ? own.schemes : connection_->proxyCredentials.schemes;
        // A proxy gets no credentials of an empty name: it answers for itself.
        if (chosen.set && !chosen.user.empty() && schemes != 0 && viaHttpProxy) {
            settings.proxyAuth = schemes;
            settings.proxyUser = chosen.user;
            settings.proxyPassword = chosen.password;
        }
    }
    settings.secure = secure_;
    settings.verifyHost = checkName_;
    settings.tls.acceptDate = !checkDate_;
    settings.tls.acceptUnknownIssuer = acceptUnknownIssuer_;
    settings.tls.clientCertificateChosen = clientCertificateChosen_;
    settings.hasBody = hop.hasBody;
    settings.bodyLength = hop.bodyLength;
    return settings;
}

ErrorCode Request::StartHop(const Destination& hop, const HeaderList& headers, bool watchHead) {
    exchange_.reset();
    ExchangeSettings settings = SettingsFor(hop, headers);
    settings.watchRequestHead = watchHead;
    exchange_ = std::make_unique<Exchange>(std::move(settings), *life_);
    return exchange_->Start();
}

SendResult Request::Failed(ErrorCode code) {
    exchange_.reset();
    SendResult result;
    result.code = code;
    if (code == kUnknownAuthority) result.signal = SendSignal::UnknownAuthority;
    if (code == kClientCertificateNeeded) result.signal = SendSignal::ClientCertificateWanted;
    return result;
}

// Remembers the schemes the proxy offered in its 407, so that credentials go out with the next
// send.
void Request::LearnProxySchemes() {
    const unsigned long schemes = exchange_->ProxySchemes();
    if (schemes == 0) return;
    std::lock_guard<std::mutex> lock(connection_->credentialsMutex);
    ownProxyCredentials.schemes = schemes;
    connection_->proxyCredentials.schemes = schemes;
}

// After the head of an answer: follows the redirects that need no confirmation.
SendResult Request::FinishSend(Destination hop, HeaderList headers) {
    for (int hops = 0;; ++hops) {
        const int status = exchange_->status();
        // A 407 asks for proxy credentials unless the server sent it from inside a tunnel: that
        // one is an ordinary answer and must teach nothing. Without a proxy the credentials
        // have nowhere to go, and the caller's retries cost nothing more.
        const ExchangeSettings& settings = exchange_->settings();
        if (status == 407 && (exchange_->answeredByTunnelProxy() || settings.proxy.url.empty() ||
                              (!settings.tunnel && settings.proxy.speaksHttp))) {
            LearnProxySchemes();
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
        const bool bodyless = hop.verb == "GET" || hop.verb == "HEAD";
        if (next.scheme != (secure_ ? UrlScheme::Https : UrlScheme::Http) ||
            (!bodyless && (status == 307 || status == 308))) {
            return {false, SendSignal::RedirectNeedsConfirmation, kRedirectNeedsConfirmation};
        }
        if (hops == kMostRedirects) return Failed(kRedirectFailed);
        hop.host = next.host;
        hop.port = next.port;
        hop.target = RequestTarget(next.path.substr(0, next.path.find('#')));
        // A followed redirect never repeats a body: 301, 302 and 303 turn a POST into a GET.
        if (!bodyless) hop.verb = "GET";
        if (hop.hasBody) headers.RemoveAll("Content-Type");
        hop.hasBody = false;
        hop.bodyLength = 0;
        ErrorCode error = StartHop(hop, headers, false);
        if (error == kNoError) error = exchange_->WaitForAnswer();
        if (error != kNoError) return Failed(error);
    }
}

SendResult Request::Send(const char* extraHeaders, const void* body, std::uint32_t length) {
    if (life_->closed()) return Failed(kInvalidHandle);
    if (body == nullptr && length != 0) return Failed(kInvalidParameter);
    exchange_.reset();
    parts_ = Parts{};
    HeaderList headers = headers_;
    if (extraHeaders != nullptr && *extraHeaders != '\0') {
        const ErrorCode error = headers.Apply(extraHeaders, HeaderMode::ReplaceOrAdd);
        if (error != kNoError) return Failed(error);
    }
    const Destination hop = FirstHop(body != nullptr, length);
    ErrorCode error = StartHop(hop, headers, false);
    if (error == kNoError) {
        error = exchange_->SendAndWait(static_cast<const char*>(body), length);
    }
    if (error != kNoError) return Failed(error);
    return FinishSend(hop, std::move(headers));
}

SendResult Request::StartSend(std::uint32_t bodyLength) {
    if (life_->closed()) return Failed(kInvalidHandle);
    exchange_.reset();
    parts_ = Parts{};
    const Destination hop = FirstHop(true, bodyLength);
    // The head goes out now, so the connection and its handshake (and any certificate
    // question) happen here.
    ErrorCode error = StartHop(hop, headers_, true);
    if (error == kNoError) error = exchange_->WaitUntilRequestSent();
    if (error != kNoError) return Failed(error);
    parts_.active = true;
    parts_.destination = hop;
    parts_.headers = headers_;
    parts_.announced = bodyLength;
    return {true, SendSignal::None, kNoError};  // the head has gone out
}

ErrorCode Request::WriteBody(const void* data, std::uint32_t size) {
    if (life_->closed()) return kInvalidHandle;
    if (!parts_.active || !exchange_) return kIncorrectState;
    if (data == nullptr && size != 0) return kInvalidParameter;
    parts_.written += size;
    return exchange_->Upload(static_cast<const char*>(data), size);
}

SendResult Request::EndSend() {
    if (life_->closed()) return Failed(kInvalidHandle);
    if (!parts_.active || !exchange_) return Failed(kIncorrectState);
    Parts parts = std::move(parts_);
    parts_ = Parts{};
    // A body shorter or longer than announced would leave the server waiting or reading the
    // next request from its tail: the exchange is dropped instead.
    if (parts.written != parts.announced) return Failed(kInvalidParameter);
    const ErrorCode error = exchange_->WaitForAnswer();
    if (error != kNoError) return Failed(error);
    return FinishSend(parts.destination, std::move(parts.headers));
}

}  // namespace zemuser::platform::http
