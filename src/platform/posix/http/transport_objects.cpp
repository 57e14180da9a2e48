// Opening the session and its connections and requests; a request's headers and the reading
// of its answer.
#include "platform/posix/http/transport_objects.h"

#include <algorithm>
#include <cstring>

#include "platform/posix/http/curl_library.h"
#include "platform/posix/http/error_codes.h"
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
    proxyCredentials.user = user;
    proxyCredentials.password = password;
}

Request::Request(std::shared_ptr<Connection> connection, const RequestLine& line, std::string verb)
    : connection_(std::move(connection)),
      life_(connection_->life->Child()),
      verb_(std::move(verb)),
      target_(RequestTarget(line.target == nullptr ? "" : line.target)),
      http11_(line.version == nullptr || EqualsIgnoreCase(line.version, "HTTP/1.1")),
      secure_(line.secure),
      checkName_(line.checkCertificateName),
      checkDate_(line.checkCertificateDate),
      keepConnection_(line.keepConnection) {
    if (line.acceptType != nullptr && *line.acceptType != '\0') {
        headers_.Append("Accept", line.acceptType);
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
    std::size_t got = 0;
    const ErrorCode error = exchange_->Read(static_cast<char*>(buffer), size, &got);
    *count = static_cast<std::uint32_t>(got);
    return error;
}

}  // namespace http
}  // namespace zemuser::platform
