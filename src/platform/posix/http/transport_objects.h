// The three objects of the transport on POSIX: a session (the agent and the root of the closing
// tree), a connection (server, proxy credentials) and a request (its line, headers, security
// choices and current exchange).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/http_transport.h"
#include "platform/posix/http/exchange.h"
#include "platform/posix/http/lifeline.h"
#include "platform/posix/http/request_headers.h"

namespace zemuser::platform::http {

class Session final : public InternetSession, public std::enable_shared_from_this<Session> {
  public:
    explicit Session(std::string agent) : agent(std::move(agent)) {}
    // The engine never logs in to a server: `user` and `password` are ignored.
    std::shared_ptr<HttpConnection> Connect(const char* host, std::uint16_t port, const char* user,
                                            const char* password, ErrorCode* failure) override;
    void Close() override { life->Close(); }

    const std::string agent;
    const std::shared_ptr<Lifeline> life = Lifeline::ForSession();
};

// Proxy credentials, and the schemes the proxy offered when it asked for them (CURLAUTH_* bits;
// 0 until a proxy asked).
struct ProxyCredentials {
    std::string user, password;
    unsigned long schemes = 0;
};

class Connection final : public HttpConnection, public std::enable_shared_from_this<Connection> {
  public:
    Connection(std::shared_ptr<const Session> session, std::string host, std::uint16_t port)
        : session(std::move(session)),
          host(std::move(host)),
          port(port),
          life(this->session->life->Child()) {}
    std::shared_ptr<HttpRequest> OpenRequest(const RequestLine& line, ErrorCode* failure) override;
    // Every send of a request takes the connection's credentials as they are then, so the
    // request needs none of its own.
    void SetProxyCredentials(const std::string& user, const std::string& password,
                             HttpRequest* request) override;
    void Close() override { life->Close(); }

    const std::shared_ptr<const Session> session;
    const std::string host;
    const std::uint16_t port;
    const std::shared_ptr<Lifeline> life;
    std::mutex credentialsMutex;
    ProxyCredentials proxyCredentials;  // guarded by credentialsMutex
};

class Request final : public HttpRequest {
  public:
    Request(std::shared_ptr<Connection> connection, const RequestLine& line, std::string verb);
    ErrorCode AddHeader(const char* line, HeaderMode mode) override;
    SendResult Send(const char* extraHeaders, const void* body, std::uint32_t length) override;
    SendResult StartSend(std::uint32_t bodyLength) override;
    ErrorCode WriteBody(const void* data, std::uint32_t size) override;
    SendResult EndSend() override;
    void AcceptUnknownAuthority() override { acceptUnknownIssuer_ = true; }
    void ChooseClientCertificate() override { clientCertificateChosen_ = true; }
    // There is no dialog to ask the user with.
    bool AskProxyCredentials() override { return false; }
    ErrorCode QueryHeader(AnswerHeader header, char* buffer, std::uint32_t* length) override;
    ErrorCode Read(void* buffer, std::uint32_t size, std::uint32_t* count) override;
    void Close() override { life_->Close(); }

  private:
    // Where one hop of a send goes and what it carries; each hop is one exchange.
    struct Hop {
        std::string host;
        std::uint16_t port = 0;
        std::string target, verb;
        bool hasBody = false;
        std::uint64_t bodyLength = 0;
        HeaderList headers;
    };

    void BeginSend(bool hasBody, std::uint64_t bodyLength);
    ErrorCode StartHop();
    SendResult FinishSend();
    SendResult Failed(ErrorCode code);

    const std::shared_ptr<Connection> connection_;
    const std::shared_ptr<Lifeline> life_;
    const std::string verb_;
    const std::string target_;
    const bool http11_, secure_, checkName_, checkDate_, keepConnection_;
    HeaderList headers_;
    bool acceptUnknownIssuer_ = false;
    bool clientCertificateChosen_ = false;
    Hop hop_;                             // of the current send
    std::unique_ptr<Exchange> exchange_;  // the current (or last) answer
    bool inParts_ = false;                // between StartSend and EndSend
    std::uint64_t written_ = 0;           // body bytes given to WriteBody
};

}  // namespace zemuser::platform::http
