// The HTTP transport under the engine. The platform's internet layer appears as three kinds of
// object, as the engine holds them: a session with the layer, a connection to one server, and
// one request on that connection. Any thread may close any of them; a call blocked on a closed
// object (or on a request of a closed connection or session) returns at once with a failure.
// One backend per system implements this header; nothing above it sees which.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace zemuser::platform {

// The platform's number for a failure: an internet error code (12002, 12029, ...) or a system
// error code. Both backends use the same numbers, so trace lines read alike everywhere.
using ErrorCode = std::uint32_t;

constexpr ErrorCode kNoError = 0;
constexpr ErrorCode kInvalidHandle = 6;         // the object is closed already
constexpr ErrorCode kInsufficientBuffer = 122;  // a header does not fit the buffer given

// The platform's text for an internet error code, exactly as the platform words it (the
// Windows message table ends its texts with a line end); empty for any other code (a system
// error code, 0).
std::string InternetErrorText(ErrorCode code);

// What a send said beyond whether it was answered. The engine answers each of these.
enum class SendSignal {
    None,
    ProxyAuthentication,        // the proxy wants credentials
    RetryRequested,             // the layer asks for the request to be sent once more
    RedirectNeedsConfirmation,  // the answer redirects where only the caller may decide to go
    ClientCertificateWanted,    // the server asks this client for a certificate
    UnknownAuthority,           // the server's certificate comes from an unknown authority
};

struct SendResult {
    bool answered = false;  // the request went out and an answer has arrived
    SendSignal signal = SendSignal::None;
    ErrorCode code = kNoError;  // the platform's code for this result, for a failure report
};

// How an added header line meets one of the same name.
enum class HeaderMode {
    Replace,       // replaces the first of that name; fails when there is none
    AddIfNew,      // adds it; fails when one of that name exists
    ReplaceOrAdd,  // replaces the first of that name, or adds it
};

// The answer headers the engine reads.
enum class AnswerHeader { StatusCode, ContentLength, ContentDisposition, Location };

// The request line and what the request promises about caching, the connection and security.
struct RequestLine {
    const char* verb = "GET";
    const char* target = "/";  // the object name, query included, sent as it stands
    const char* version = "HTTP/1.0";
    const char* referrer = nullptr;
    const char* acceptType = "*/*";
    bool secure = false;               // over TLS
    bool checkCertificateName = true;  // refuse a certificate issued for another host name
    bool checkCertificateDate = true;  // refuse a certificate outside its period of validity
    bool reload = false;               // never answer from a cache
    bool writeToCache = true;
    bool keepConnection = false;  // ask the server to keep the connection open
    bool formSubmission = false;
};

class HttpRequest {
  public:
    virtual ~HttpRequest() = default;

    // Adds one header line ("Name: value\r\n"); kNoError or why it was refused.
    virtual ErrorCode AddHeader(const char* line, HeaderMode mode) = 0;

    // Sends the request whole. `extraHeaders` (CR LF terminated lines, or null) go with this
    // send only; `body` may be null when `length` is 0. The bytes are taken during the call.
    virtual SendResult Send(const char* extraHeaders, const void* body, std::uint32_t length) = 0;

    // Sends the request in three steps: the head announcing `bodyLength`, the body in any
    // number of writes, then the end, which waits for the answer. StartSend counts as answered
    // when the head has gone out.
    virtual SendResult StartSend(std::uint32_t bodyLength) = 0;
    virtual ErrorCode WriteBody(const void* data, std::uint32_t size) = 0;
    virtual SendResult EndSend() = 0;

    // Answers to what a failed send asked for; each applies to the next send.
    virtual void AcceptUnknownAuthority() = 0;
    // Lets the user choose a certificate for the server that asked (where the platform can ask
    // the user) and sends the choice, or none, with the next send.
    virtual void ChooseClientCertificate() = 0;
    // Asks the user for proxy credentials where the platform can; true: send once more.
    virtual bool AskProxyCredentials() = 0;

    // Copies a header of the answer into `buffer` with a terminating zero and sets `*length` to
    // its length. When it does not fit, returns kInsufficientBuffer with the size needed in
    // `*length` and leaves the buffer alone. The status code reads as its decimal digits.
    virtual ErrorCode QueryHeader(AnswerHeader header, char* buffer, std::uint32_t* length) = 0;

    // Blocks until `size` body bytes, the end of the body or a failure. Bytes that arrived
    // before a failure or a close are delivered first; the next call reports the failure.
    // At the end of the body: kNoError with `*count` 0.
    virtual ErrorCode Read(void* buffer, std::uint32_t size, std::uint32_t* count) = 0;

    // Any thread. Idempotent.
    virtual void Close() = 0;
};

class HttpConnection {
  public:
    virtual ~HttpConnection() = default;

    virtual std::shared_ptr<HttpRequest> OpenRequest(const RequestLine& line,
                                                     ErrorCode* failure) = 0;
    // Proxy credentials for this connection and, when given, its request; empty texts are set
    // as empty credentials. They are sent only to a proxy that asks for them.
    virtual void SetProxyCredentials(const std::string& user, const std::string& password,
                                     HttpRequest* request) = 0;
    // Any thread. Idempotent. Requests opened on the connection count as closed as well.
    virtual void Close() = 0;
};

class InternetSession {
  public:
    virtual ~InternetSession() = default;

    // A connection to `host` at `port` (never 0). `user` and `password` may be null.
    virtual std::shared_ptr<HttpConnection> Connect(const char* host, std::uint16_t port,
                                                    const char* user, const char* password,
                                                    ErrorCode* failure) = 0;
    // Any thread. Idempotent. Connections and requests opened under it count as closed as well.
    virtual void Close() = 0;
};

// Opens a session with the platform's internet layer; requests name `agent` as their user agent
// unless they carry a User-Agent header of their own. Null on failure, with `*failure` set.
std::shared_ptr<InternetSession> OpenInternet(const char* agent, ErrorCode* failure);

// Whether the machine can go online; kNoError when it can.
ErrorCode AttemptConnect();

// Sets a cookie that later requests to `url` carry, for the life of the process.
ErrorCode SetCookie(const char* url, const char* name, const char* value);

// The scheme a URL names.
enum class UrlScheme { Other, Ftp, Gopher, Http, Https, File, News, Mailto };

struct CrackedUrl {
    UrlScheme scheme = UrlScheme::Other;
    std::string host;        // without user information or port
    std::string path;        // from the first "/" after the host to the end, query included
    std::uint16_t port = 0;  // the scheme's default when the URL names none
};

// Canonicalises `url` as a browser would (lower-case scheme and host, dot segments resolved,
// unsafe characters of the path percent-encoded, the query kept) and cracks it. False when it is
// no URL, or when its host or path is longer than 2083 characters.
bool CrackUrl(const char* url, CrackedUrl* out);

}  // namespace zemuser::platform
