// Opening the session and its connections and requests, and setting cookies; a request's
// headers and the reading of its answer.
#include "platform/posix/http/transport_objects.h"

#include <algorithm>
#include <cstring>

#include "platform/posix/http/text_rules.h"

namespace zemuser::platform {

using namespace http;

std::shared_ptr<InternetSession> OpenInternet(const char* agent, ErrorCode* failure) {
    EnsureCurl();
    *failure = kNoError;
    return std::make_shared<Session>(agent == nullptr ? "" : agent);
}

// The connection is made by the first send; there is nothing to try beforehand.
ErrorCode AttemptConnect() {
    return kNoError;
}

// A cookie the caller sets goes to the transfer library's process-wide jar, which also keeps
// what servers set and sends both back to matching requests. It belongs to the URL's host alone
// and to the folder of its path; its value is taken as it stands, no attributes read from it.
ErrorCode SetCookie(const char* url, const char* name, const char* value) {
    CrackedUrl cracked;
    if (url == nullptr || value == nullptr) return kInvalidParameter;
    if (!CrackUrl(url, &cracked) || cracked.host.empty()) return kInvalidUrl;
    const std::string cookie =
        name != nullptr && *name != '\0' ? std::string(name) + "=" + value : std::string(value);
    const std::size_t equals = cookie.find('=');
    // Control characters (tabs too: they separate the fields of the jar's lines) could split
    // the request the cookie goes with.
    if (equals == 0 || equals == std::string::npos ||
        std::any_of(cookie.begin(), cookie.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; })) {
        return kInvalidParameter;
    }
    const std::string path = cracked.path.substr(0, cracked.path.find_first_of("?#"));
    const std::size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
    // The jar's own line format: domain, subdomains, path, secure, expiry (0: for the
    // session), name, value.
    const std::string line = cracked.host + "\tFALSE\t" + folder + "\tFALSE\t0\t" +
                             cookie.substr(0, equals) + "\t" + cookie.substr(equals + 1);
    std::unique_ptr<TransferPair> pair = TakePair();
    if (!pair) return kNotEnoughMemory;
    const bool added = curl_easy_setopt(pair->easy, CURLOPT_SHARE, CookieShare()) == CURLE_OK &&
                       curl_easy_setopt(pair->easy, CURLOPT_COOKIELIST, line.c_str()) == CURLE_OK;
    ReturnPair(std::move(pair), false);
    return added ? kNoError : kNotEnoughMemory;
}

namespace http {

std::shared_ptr<HttpConnection> Session::Connect(const char* host, std::uint16_t port,
                                                 const char* /*user*/, const char* /*password*/,
                                                 ErrorCode* failure) {
    if (life->closed() || host == nullptr || *host == '\0') {
        *failure = life->closed() ? kInvalidHandle : kInvalidParameter;
        return nullptr;
    }
    *failure = kNoError;
    std::string name = host;
    // An IPv6 address may come in its URL spelling.
    if (name.size() > 2 && name.front() == '[' && name.back() == ']') {
        name = name.substr(1, name.size() - 2);
    }
    return std::make_shared<Connection>(shared_from_this(), std::move(name), port == 0 ? 80 : port);
}

std::shared_ptr<HttpRequest> Connection::OpenRequest(const RequestLine& line, ErrorCode* failure) {
    const std::string verb = line.verb == nullptr || *line.verb == '\0' ? "GET" : line.verb;
    const bool verbIsToken = std::none_of(verb.begin(), verb.end(), [](char c) {
        return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F;
    });
    if (life->closed() || !verbIsToken) {
        *failure = life->closed() ? kInvalidHandle : kInvalidParameter;
        return nullptr;
    }
    *failure = kNoError;
    return std::make_shared<Request>(shared_from_this(), line, verb);
}

void Connection::SetProxyCredentials(const std::string& user, const std::string& password,
                                     HttpRequest* /*request*/) {
    std::lock_guard<std::mutex> lock(credentialsMutex);
    proxyUser = user;
    proxyPassword = password;
}

Request::Request(std::shared_ptr<Connection> connection, const RequestLine& line, std::string verb)
    : connection_(std::move(connection)),
      life_(std::make_shared<Lifeline>(connection_->life)),
      verb_(std::move(verb)),
      target_(RequestTarget(line.target == nullptr ? "" : line.target)),
      http11_(line.version == nullptr || EqualsIgnoreCase(line.version, "HTTP/1.1")),
      secure_(line.secure),
      keepConnection_(line.keepConnection) {
    tls_.checkName = line.checkCertificateName;
    tls_.acceptDate = !line.checkCertificateDate;
    if (line.acceptType != nullptr && *line.acceptType != '\0') {
        headers_.Apply(std::string("Accept: ") + line.acceptType, HeaderMode::AddIfNew);
    }
}

ErrorCode Request::AddHeader(const char* line, HeaderMode mode) {
    if (life_->closed()) return kInvalidHandle;
    return line == nullptr ? kInvalidParameter : headers_.Apply(line, mode);
}

ErrorCode Request::QueryHeader(AnswerHeader header, char* buffer, std::uint32_t* length) {
    if (life_->closed()) return kInvalidHandle;
    if (!exchange_ || !exchange_->answered()) return kHeaderNotFound;
    // In the order of AnswerHeader; the status code is no header of the answer's.
    static const char* const kNames[] = {nullptr, "Content-Length", "Content-Disposition",
                                         "Location"};
    std::string text = std::to_string(exchange_->status());
    if (header != AnswerHeader::StatusCode &&
        !exchange_->Header(kNames[static_cast<int>(header)], &text)) {
        return kHeaderNotFound;
    }
    if (buffer == nullptr || *length <= text.size()) {
        *length = static_cast<std::uint32_t>(text.size() + 1);
        return kInsufficientBuffer;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    *length = static_cast<std::uint32_t>(text.size());
    return kNoError;
}

ErrorCode Request::Read(void* buffer, std::uint32_t size, std::uint32_t* count) {
    *count = 0;
    if (life_->closed()) return kInvalidHandle;
    if (!exchange_ || !exchange_->answered()) return kIncorrectState;
    if (buffer == nullptr && size != 0) return kInvalidParameter;
    return exchange_->Read(static_cast<char*>(buffer), size, count);
}

}  // namespace http
}  // namespace zemuser::platform
