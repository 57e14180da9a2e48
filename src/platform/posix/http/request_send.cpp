// Sending a request, whole or with the body in parts, through the proxy the environment names,
// and following the redirects that need no confirmation.
#include <cstdlib>

#include "platform/posix/http/text_rules.h"
#include "platform/posix/http/transport_objects.h"

namespace zemuser::platform::http {
namespace {

constexpr int kMostRedirects = 10;

// The first variable that is set; set but empty still counts, and means "none".
std::string FirstSet(std::initializer_list<const char*> names) {
    for (const char* name : names) {
        if (const char* value = std::getenv(name)) return value;
    }
    return std::string();
}

// The no-proxy list as the transfer library documents it: "*" covers every host, a name covers
// itself and the names under it ("example.com" or ".example.com" covers "www.example.com", not
// "badexample.com"), an address covers only itself.
bool HostBypassesProxy(std::string_view host, std::string_view list) {
    const bool isAddress = host.find(':') != std::string_view::npos ||
                           host.find_first_not_of("0123456789.") == std::string_view::npos;
    while (!list.empty()) {
        const std::size_t end = std::min(list.find_first_of(", \t"), list.size());
        std::string_view token = list.substr(0, end);
        list.remove_prefix(std::min(end + 1, list.size()));
        if (token == "*") return true;
        if (!token.empty() && token.front() == '.') token.remove_prefix(1);
        if (token.empty() || token.size() > host.size()) continue;
        const std::size_t start = host.size() - token.size();
        const bool wholeLabels = start == 0 || (!isAddress && host[start - 1] == '.');
        if (wholeLabels && EqualsIgnoreCase(host.substr(start), token)) return true;
    }
    return false;
}

// The proxy a request to `host` goes through; empty for none. The environment is read with the
// transfer library's own rules, so a request and a command-line transfer in the same
// environment take the same road: lower-case http_proxy only (an upper-case HTTP_PROXY is
// ignored on purpose), https_proxy or HTTPS_PROXY, then all_proxy or ALL_PROXY; no_proxy or
// NO_PROXY.
std::string ProxyFor(bool secure, const std::string& host) {
    const std::string proxy =
        secure ? FirstSet({"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
               : FirstSet({"http_proxy", "all_proxy", "ALL_PROXY"});
    const bool bypass = HostBypassesProxy(host, FirstSet({"no_proxy", "NO_PROXY"}));
    return bypass ? std::string() : proxy;
}

// An HTTP proxy: plain requests name the whole URL to it, secure ones tunnel through it.
bool SpeaksHttp(std::string_view proxy) {
    const std::string_view scheme = proxy.substr(0, proxy.find("://"));
    return scheme == proxy || EqualsIgnoreCase(scheme, "http") || EqualsIgnoreCase(scheme, "https");
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
    settings.proxy = ProxyFor(secure_, hop_.host);
    const bool viaHttpProxy = !settings.proxy.empty() && SpeaksHttp(settings.proxy);
    settings.tunnel = viaHttpProxy && secure_;
    // A 407 asks for proxy credentials where a proxy sent it, and without a proxy (where they
    // have nowhere to go, and the caller's retries cost nothing more); not from inside a tunnel.
    hop_.proxyMayAsk = settings.proxy.empty() || (viaHttpProxy && !secure_);
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
    settings.headerLines = hop_.headers.LibraryLines(agent, hop_.hasBody, hop_.bodyLength,
                                                     keepConnection_, viaHttpProxy && !secure_);
    if (settings.tunnel && !agent.empty()) settings.proxyHeaderLines = {"User-Agent: " + agent};
    {
        // Sent only in a scheme that a proxy offered when it asked; a proxy gets no
        // credentials of an empty name: it answers for itself.
        std::lock_guard<std::mutex> lock(connection_->credentialsMutex);
        if (viaHttpProxy && connection_->proxySchemes != 0 && !connection_->proxyUser.empty()) {
            settings.proxyAuth = connection_->proxySchemes;
            settings.proxyUser = connection_->proxyUser;
            settings.proxyPassword = connection_->proxyPassword;
        }
    }
    settings.secure = secure_;
    settings.tls = tls_;
    settings.hasBody = hop_.hasBody;
    settings.bodyLength = hop_.bodyLength;
    exchange_ = std::make_unique<Exchange>(std::move(settings), *life_);
    return exchange_->Start();
}

SendResult Request::Failed(ErrorCode code) {
    exchange_.reset();
    inParts_ = false;
    return {false,
            code == kUnknownAuthority          ? SendSignal::UnknownAuthority
            : code == kClientCertificateNeeded ? SendSignal::ClientCertificateWanted
                                               : SendSignal::None,
            code};
}

// After the head of an answer: follows the redirects that need no confirmation.
SendResult Request::FinishSend() {
    for (int hops = 0;; ++hops) {
        const int status = exchange_->status();
        if (status == 407 && (hop_.proxyMayAsk || exchange_->answeredByTunnelProxy())) {
            // Credentials go out with the next send, in a scheme the proxy offered.
            if (const unsigned long schemes = exchange_->ProxySchemes(); schemes != 0) {
                std::lock_guard<std::mutex> lock(connection_->credentialsMutex);
                connection_->proxySchemes = schemes;
            }
            return {true, SendSignal::ProxyAuthentication, kNoError};
        }
        const bool redirect = (status >= 301 && status <= 303) || status == 307 || status == 308;
        std::string location;
        if (!redirect || !exchange_->Header("Location", &location) || location.empty()) {
            return {true, SendSignal::None, kNoError};
        }
        CrackedUrl next;
        if (!CrackUrl(exchange_->RedirectUrl(), &next)) return Failed(kRedirectFailed);
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
