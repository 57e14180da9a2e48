// Opening the session and its connections and requests; proxy credentials.
#include "platform/posix/http/curl_library.h"
#include "platform/posix/http/error_codes.h"
#include "platform/posix/http/transport_objects.h"

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
    *failure = kNoError;
    if (life->closed()) {
        *failure = kInvalidHandle;
        return nullptr;
    }
    if (host == nullptr || *host == '\0') {
        *failure = kInvalidParameter;
        return nullptr;
    }
    std::string name = host;
    // An IPv6 address may come in its URL spelling.
    if (name.size() > 2 && name.front() == '[' && name.back() == ']') {
        name = name.substr(1, name.size() - 2);
    }
    return std::make_shared<Connection>(shared_from_this(), std::move(name), port == 0 ? 80 : port);
}

std::shared_ptr<HttpRequest> Connection::OpenRequest(const RequestLine& line, ErrorCode* failure) {
    *failure = kNoError;
    if (life->closed()) {
        *failure = kInvalidHandle;
        return nullptr;
    }
    const std::string verb = line.verb == nullptr || *line.verb == '\0' ? "GET" : line.verb;
    for (char c : verb) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) {
            *failure = kInvalidParameter;
            return nullptr;
        }
    }
    return std::make_shared<Request>(shared_from_this(), line, verb);
}

void Connection::SetProxyCredentials(const std::string& user, const std::string& password,
                                     HttpRequest* request) {
    std::lock_guard<std::mutex> lock(credentialsMutex);
    for (ProxyCredentials* credentials :
         {&proxyCredentials,
          request == nullptr ? nullptr : &static_cast<Request*>(request)->ownProxyCredentials}) {
        if (credentials == nullptr) continue;
        credentials->set = true;
        credentials->user = user;
        credentials->password = password;
    }
}

}  // namespace http
}  // namespace zemuser::platform
