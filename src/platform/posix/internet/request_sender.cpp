#include "platform/posix/internet/request_sender.h"

#include "platform/posix/internet/cookie_jar.h"
#include "platform/posix/internet/internet_objects.h"
#include "platform/posix/internet/outgoing_headers.h"
#include "platform/posix/internet/redirects.h"
#include "platform/posix/internet/url_crack.h"
#include "platform/posix/internet/url_scheme.h"

namespace platform::internet {
namespace {

constexpr int kMaxRedirects = 10;

bool VerbCarriesBody(const std::string& verb) {
    return verb == "POST" || verb == "PUT";
}

Destination FirstDestination(const RequestObject& request, bool hasBody, std::uint64_t bodyLength) {
    Destination destination;
    destination.secure = (request.flags & INTERNET_FLAG_SECURE) != 0;
    destination.host = request.connection->host;
    destination.port = request.connection->port;
    destination.target = request.target;
    destination.absoluteTarget = IsAbsoluteUrl(request.target);
    destination.verb = request.verb;
    destination.hasBody = hasBody || VerbCarriesBody(request.verb);
    destination.bodyLength = bodyLength;
    return destination;
}

std::string CookiesFor(const Destination& destination) {
    const std::string url = DestinationUrl(destination);
    UrlParts parts;
    if (CrackUrl(url, &parts) != 0) return std::string();
    return CookieJar::Instance().HeaderFor(parts.schemeNumber == INTERNET_SCHEME_HTTPS,
                                           std::string(parts.hostName), std::string(parts.path));
}

// Proxy credentials: the request's own, else the connection's.
void ApplyProxyCredentials(RequestObject& request, ExchangeSettings* settings) {
    ConnectionObject& connection = *request.connection;
    std::lock_guard<std::mutex> lock(connection.optionsMutex);
    const auto& user = request.proxyCredentials.user ? request.proxyCredentials.user
                                                     : connection.proxyCredentials.user;
    const auto& password = request.proxyCredentials.password ? request.proxyCredentials.password
                                                             : connection.proxyCredentials.password;
    if (!user || user->empty()) return;
    settings->proxyCredentials = true;
    settings->proxyUser = *user;
    settings->proxyPassword = password.value_or(std::string());
    settings->proxyAuth = request.proxyAuthSchemes != CURLAUTH_ANY ? request.proxyAuthSchemes
                                                                   : connection.proxyAuthSchemes;
}

ExchangeSettings SettingsFor(RequestObject& request, const Destination& destination,
                             const RequestHeaders& headers) {
    const ConnectionObject& connection = *request.connection;
    const RootObject& root = *connection.root;
    ExchangeSettings settings;
    const std::string host = destination.host.find(':') != std::string::npos
                                 ? "[" + destination.host + "]"
                                 : destination.host;
    settings.url = std::string(destination.secure ? "https://" : "http://") + host + ":" +
                   std::to_string(destination.port) + "/";
    settings.proxy = ChooseProxy(root.proxy, destination.secure, destination.host);
    const bool viaProxy = !settings.proxy.url.empty() && settings.proxy.speaksHttp;
    settings.tunnel = viaProxy && destination.secure;
    // A plain request through an HTTP proxy names the whole URL on its request line.
    settings.target =
        (viaProxy && !destination.secure) ? DestinationUrl(destination) : destination.target;
    settings.verb = destination.verb;
    settings.http11 = request.http11;

    OutgoingHeaders outgoing;
    outgoing.headers = &headers;
    outgoing.agent = root.agent;
    outgoing.hasBody = destination.hasBody;
    outgoing.bodyLength = destination.bodyLength;
    outgoing.cookies = CookiesFor(destination);
    outgoing.keepConnection = (request.flags & INTERNET_FLAG_KEEP_CONNECTION) != 0;
    settings.headerLines = BuildHeaderLines(outgoing);
    if (settings.tunnel && !root.agent.empty()) {
        settings.proxyHeaderLines.push_back("User-Agent: " + root.agent);
    }

    ApplyProxyCredentials(request, &settings);
    if (!connection.user.empty()) {
        settings.serverCredentials = true;
        settings.serverUser = connection.user;
        settings.serverPassword = connection.password;
    }
    settings.secure = destination.secure;
    settings.verifyHost = (request.securityFlags & SECURITY_FLAG_IGNORE_CERT_CN_INVALID) == 0;
    settings.tls.ignoreDate = (request.securityFlags & SECURITY_FLAG_IGNORE_CERT_DATE_INVALID) != 0;
    settings.tls.ignoreUnknownCa = (request.securityFlags & SECURITY_FLAG_IGNORE_UNKNOWN_CA) != 0;
    settings.tls.clientCertChosen = request.clientCertChosen;
    settings.hasBody = destination.hasBody;
    settings.bodyLength = destination.bodyLength;
    settings.headOnly = destination.verb == "HEAD";
    settings.timeouts = CurrentTimeouts();
    return settings;
}

DWORD StartExchange(RequestObject& request, const Destination& destination,
                    const RequestHeaders& headers) {
    request.exchange.reset();
    auto exchange =
        std::make_unique<Exchange>(SettingsFor(request, destination, headers), request.cancel);
    const DWORD error = exchange->Start();
    if (error != 0) return error;
    request.exchange = std::move(exchange);
    return 0;
}

// Remembers which schemes a proxy offered, so the credentials go out in the first request
// of the next send instead of after another challenge.
void NoteProxyChallenge(RequestObject& request, const ResponseHead& head) {
    if (head.status != 407) return;
    unsigned long schemes = 0;
    for (std::size_t i = 0; const std::string* value = head.Find("Proxy-Authenticate", i); ++i) {
        const std::string scheme = ToLower(value->substr(0, value->find(' ')));
        if (scheme == "basic") schemes |= CURLAUTH_BASIC;
        if (scheme == "digest") schemes |= CURLAUTH_DIGEST;
        if (scheme == "ntlm") schemes |= CURLAUTH_NTLM;
        if (scheme == "negotiate") schemes |= CURLAUTH_NEGOTIATE;
    }
    if (schemes == 0) return;
    request.proxyAuthSchemes = schemes;
    std::lock_guard<std::mutex> lock(request.connection->optionsMutex);
    request.connection->proxyAuthSchemes = schemes;
}

DWORD FailSend(RequestObject& request, DWORD error) {
    request.exchange.reset();
    return error;
}

// After the head of an answer: follows the redirects that need no confirmation.
DWORD FinishSend(RequestObject& request, Destination destination, RequestHeaders headers) {
    for (int hops = 0;;) {
        const ResponseHead& head = *request.exchange->head();
        NoteProxyChallenge(request, head);
        Destination next;
        switch (DecideRedirect(destination, head, &next)) {
            case RedirectStep::None:
                return 0;
            case RedirectStep::NeedsConfirmation:
                return ERROR_HTTP_REDIRECT_NEEDS_CONFIRMATION;  // the answer stays readable
            case RedirectStep::Failed:
                return ERROR_HTTP_REDIRECT_FAILED;
            case RedirectStep::Follow:
                break;
        }
        if (hops++ == kMaxRedirects) return ERROR_HTTP_REDIRECT_FAILED;
        if (!next.hasBody && destination.hasBody) {
            headers.RemoveAll("Content-Type");
        }
        destination = next;
        DWORD error = StartExchange(request, destination, headers);
        if (error == 0) error = request.exchange->WaitForHead();
        if (error != 0) return FailSend(request, error);
    }
}

DWORD HeadersForSend(const RequestObject& request, std::string_view extraHeaders,
                     RequestHeaders* headers) {
    *headers = request.headers;
    if (extraHeaders.empty()) return 0;
    return headers->Apply(extraHeaders, HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
}

}  // namespace

DWORD SendWhole(RequestObject& request, std::string_view extraHeaders, const char* body,
                std::size_t bodyLength) {
    request.exchange.reset();
    request.parts = PartsInProgress{};
    RequestHeaders headers;
    DWORD error = HeadersForSend(request, extraHeaders, &headers);
    if (error != 0) return error;
    const Destination destination = FirstDestination(request, body != nullptr, bodyLength);
    error = StartExchange(request, destination, headers);
    if (error != 0) return FailSend(request, error);
    request.exchange->SupplyBody(body, bodyLength);
    error = request.exchange->WaitForHead();
    // The caller's body may be gone after the call; what the transfer has not taken yet
    // (the server answered early) is kept.
    request.exchange->KeepUnsentBody();
    if (error != 0) return FailSend(request, error);
    return FinishSend(request, destination, std::move(headers));
}

DWORD BeginSendInParts(RequestObject& request, std::string_view extraHeaders,
                       std::uint64_t bodyLength) {
    request.exchange.reset();
    request.parts = PartsInProgress{};
    RequestHeaders headers;
    DWORD error = HeadersForSend(request, extraHeaders, &headers);
    if (error != 0) return error;
    const Destination destination = FirstDestination(request, true, bodyLength);
    error = StartExchange(request, destination, headers);
    if (error == 0) error = request.exchange->WaitUntilRequestSent();
    if (error != 0) return FailSend(request, error);
    request.parts.active = true;
    request.parts.destination = destination;
    request.parts.headers = std::move(headers);
    request.parts.announced = bodyLength;
    return 0;
}

DWORD WriteBodyPart(RequestObject& request, const char* data, std::size_t size) {
    if (!request.parts.active || !request.exchange) return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
    request.parts.written += size;
    return request.exchange->Upload(data, size);
}

DWORD EndSendInParts(RequestObject& request) {
    if (!request.parts.active || !request.exchange) return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
    PartsInProgress parts = std::move(request.parts);
    request.parts = PartsInProgress{};
    // A body shorter or longer than announced would leave the server waiting or reading the
    // next request from its tail: the exchange is dropped instead.
    if (parts.written != parts.announced) return FailSend(request, ERROR_INVALID_PARAMETER);
    const DWORD error = request.exchange->WaitForHead();
    if (error != 0) return FailSend(request, error);
    return FinishSend(request, parts.destination, std::move(parts.headers));
}

}  // namespace platform::internet
