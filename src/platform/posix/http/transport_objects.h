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

namespace zemuser::platform::http {

// A request's own header lines in order, the rules by which added lines meet them (in
// request_headers.cpp), and the lines handed to the transfer library for one send.
class HeaderList {
  public:
    // Applies every "Name: value" line of `text`. All lines apply or none: kNoError, or the
    // code of the first line that cannot be applied.
    ErrorCode Apply(std::string_view text, HeaderMode mode);
    void RemoveAll(std::string_view name);

    // Everything the library sends after its own Host line (and the cookies of its jar), in
    // order; `hasBody` adds the body's length. `viaPlainProxy`: the request line names the whole
    // URL to an HTTP proxy.
    std::vector<std::string> LibraryLines(const std::string& agent, bool hasBody,
                                          std::uint64_t bodyLength, bool keepConnection,
                                          bool viaPlainProxy) const;

  private:
    struct Field {
        std::string name;
        std::string value;
    };
    bool Has(std::string_view name) const;
    ErrorCode ApplyOne(const Field& field, HeaderMode mode);

    std::vector<Field> fields_;
};

class Session final : public InternetSession, public std::enable_shared_from_this<Session> {
  public:
    explicit Session(std::string agent) : agent(std::move(agent)) {}
    // The engine never logs in to a server: `user` and `password` are ignored.
    std::shared_ptr<HttpConnection> Connect(const char* host, std::uint16_t port, const char* user,
                                            const char* password, ErrorCode* failure) override;
    void Close() override { life->Close(); }

    const std::string agent;
    const std::shared_ptr<Lifeline> life = std::make_shared<Lifeline>();
};

class Connection final : public HttpConnection, public std::enable_shared_from_this<Connection> {
  public:
    Connection(std::shared_ptr<const Session> session, std::string host, std::uint16_t port)
        : session(std::move(session)),
          host(std::move(host)),
          port(port),
          life(std::make_shared<Lifeline>(this->session->life)) {}
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
    std::mutex credentialsMutex;  // guards the proxy's credentials and the schemes it offered
    std::string proxyUser, proxyPassword;
    unsigned long proxySchemes = 0;  // CURLAUTH_* bits; 0 until a proxy asked
};

class Request final : public HttpRequest {
  public:
    Request(std::shared_ptr<Connection> connection, const RequestLine& line, std::string verb);
    ErrorCode AddHeader(const char* line, HeaderMode mode) override;
    SendResult Send(const char* extraHeaders, const void* body, std::uint32_t length) override;
    SendResult StartSend(std::uint32_t bodyLength) override;
    ErrorCode WriteBody(const void* data, std::uint32_t size) override;
    SendResult EndSend() override;
    void AcceptUnknownAuthority() override { tls_.acceptUnknownIssuer = true; }
    void ChooseClientCertificate() override { tls_.clientCertificateChosen = true; }
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
        bool proxyMayAsk = false;  // whether a 407 of the answer asks for proxy credentials
    };

    void BeginSend(bool hasBody, std::uint64_t bodyLength);
    ErrorCode StartHop();
    SendResult FinishSend();
    SendResult Failed(ErrorCode code);

    const std::shared_ptr<Connection> connection_;
    const std::shared_ptr<Lifeline> life_;
    const std::string verb_;
    const std::string target_;
    const bool http11_, secure_, keepConnection_;
    TlsChecks tls_;  // the choices only: each exchange finds for itself
    HeaderList headers_;
    Hop hop_;                             // of the current send
    std::unique_ptr<Exchange> exchange_;  // the current (or last) answer
    bool inParts_ = false;                // between StartSend and EndSend
    std::uint64_t written_ = 0;           // body bytes given to WriteBody
};

}  // namespace zemuser::platform::http
