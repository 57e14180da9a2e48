// One HTTP exchange: a request sent and its answer received, driven on the calling thread
// through a multi handle. Every wait returns when its goal is reached, when the transfer fails
// or times out, or at once when the request (or what it was opened under) is closed.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/http_transport.h"
#include "platform/posix/http/curl_library.h"
#include "platform/posix/http/lifeline.h"
#include "platform/posix/http/proxy_choice.h"
#include "platform/posix/http/tls_checks.h"

namespace zemuser::platform::http {

struct ExchangeSettings {
    std::string url;     // where the library connects; relative Locations resolve against it
    std::string target;  // the request line's target, sent as it stands
    std::string verb;
    bool http11 = false;
    std::vector<std::string> headerLines;       // after the library's Host line, in order
    std::vector<std::string> proxyHeaderLines;  // for the CONNECT of a tunnel
    ProxyChoice proxy;
    bool tunnel = false;  // a secure request through an HTTP proxy
    // The schemes the proxy offered; 0: the proxy has not asked, no credentials go out.
    unsigned long proxyAuth = 0;
    std::string proxyUser, proxyPassword;
    bool secure = false;
    TlsChecks tls;  // the request's choices; the handshake's findings come back in them
    bool hasBody = false;
    std::uint64_t bodyLength = 0;
};

class Exchange {
  public:
    Exchange(ExchangeSettings settings, Lifeline& life);
    ~Exchange();
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;

    // Each returns kNoError or the code of the failure.
    ErrorCode Start();
    // Once the head has gone out, the library asks for the body.
    ErrorCode WaitUntilRequestSent() {
        return Drive([this] { return bodyAsked_ || answered_; });
    }
    ErrorCode WaitForAnswer() {
        return Drive([this] { return answered_; });
    }
    // Sends the whole body and waits for the answer; `body` need only live for the call.
    ErrorCode SendAndWait(const char* body, std::size_t size);
    // Hands body bytes to the transfer and returns once all are taken; they are read straight
    // from `data`, which need only live for the call.
    ErrorCode Upload(const char* data, std::size_t size);
    // Blocks until `size` bytes, the end of the body or a failure. Bytes that arrived before a
    // failure are returned first (with kNoError), the failure by the next call.
    ErrorCode Read(char* out, std::size_t size, std::size_t* count);

    const ExchangeSettings& settings() const { return settings_; }
    bool answered() const { return answered_; }
    int status() const { return status_; }
    // True when the answer is the proxy's refusal of the tunnel rather than the server's.
    bool answeredByTunnelProxy() const { return answeredByTunnelProxy_; }
    bool Header(const char* name, std::string* value) const;
    // Where a redirect of the answer points, resolved against the request's URL; empty if none.
    std::string RedirectUrl() const;
    // The schemes a proxy offered when it asked for credentials (CURLAUTH_* bits).
    unsigned long ProxySchemes() const;

  private:
    ErrorCode Configure();
    ErrorCode Drive(const std::function<bool()>& goal);
    void CollectResult();
    ErrorCode FailureCode(CURLcode code, long connectCode) const;
    ErrorCode Fail(ErrorCode code);
    void Touch() { lastActivity_ = std::chrono::steady_clock::now(); }
    void HeadComplete();
    void PromotePendingAnswer();
    void Feed(const char* data, std::size_t size);
    void EndFeed(bool keepRest);
    void Resume();

    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static size_t OnBody(char* data, size_t size, size_t count, void* self);
    static size_t OnUpload(char* buffer, size_t size, size_t count, void* self);
    static int OnSeek(void* self, curl_off_t offset, int origin);
    static int OnDebug(CURL* easy, curl_infotype type, char* data, size_t size, void* unused);

    struct ListDeleter {
        void operator()(curl_slist* list) const { curl_slist_free_all(list); }
    };

    ExchangeSettings settings_;
    Lifeline& life_;
    std::unique_ptr<curl_slist, ListDeleter> headerList_, proxyHeaderList_;
    std::unique_ptr<TransferPair> pair_;
    bool added_ = false;
    long receiveTimeoutMs_ = 0;

    std::size_t headBytes_ = 0;  // of the head being read
    int status_ = 0;
    bool answered_ = false;
    bool pendingAnswer_ = false;  // a challenge the library may still answer itself
    bool answeredByTunnelProxy_ = false;
    bool bodyAsked_ = false;
    bool invalidResponse_ = false;

    // The rest of the last piece of the body, for the next reads; while it lasts, the library
    // holds the next piece (paused), so memory stays bounded whatever the body's size.
    std::string pending_;
    std::size_t pendingTaken_ = 0;
    bool receivePaused_ = false;
    char* readTarget_ = nullptr;  // a waiting reader's buffer: body bytes go straight there
    std::size_t readWanted_ = 0;
    std::size_t readGot_ = 0;

    const char* feed_ = nullptr;  // body bytes being handed to the transfer
    std::size_t feedSize_ = 0;
    std::size_t feedTaken_ = 0;
    std::uint64_t feedBase_ = 0;  // body offset of feed_[0]
    std::vector<char> keptBody_;
    bool sendPaused_ = false;

    bool finished_ = false;
    ErrorCode failure_ = kNoError;
    bool connected_ = false;
    std::chrono::steady_clock::time_point lastActivity_;
};

}  // namespace zemuser::platform::http
