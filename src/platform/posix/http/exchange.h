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
#include "platform/posix/http/body_window.h"
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
    std::vector<std::string> headerLines;  // after the library's Host line, in order
    std::string agent;                     // for the CONNECT of a tunnel
    ProxyChoice proxy;
    bool tunnel = false;  // a secure request through an HTTP proxy
    // The schemes the proxy offered; 0: the proxy has not asked, no credentials go out.
    unsigned long proxyAuth = 0;
    std::string proxyUser, proxyPassword;
    bool secure = false;
    bool verifyHost = true;
    TlsPolicy tls;
    bool hasBody = false;
    std::uint64_t bodyLength = 0;
    bool watchRequestHead = false;  // a send in parts waits until the head has gone out
};

class Exchange {
  public:
    Exchange(ExchangeSettings settings, Lifeline& life);
    ~Exchange();
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;

    // Each returns kNoError or the code of the failure.
    ErrorCode Start();
    ErrorCode WaitUntilRequestSent();
    ErrorCode WaitForAnswer();
    // Hands body bytes to the transfer and returns once all are taken; they are read straight
    // from `data`, which need only live for the call.
    ErrorCode Upload(const char* data, std::size_t size);
    // Blocks until `size` bytes, the end of the body or a failure. Bytes that arrived before a
    // failure are returned first (with kNoError), the failure by the next call.
    ErrorCode Read(char* out, std::size_t size, std::size_t* count);

    // The whole body of a send in one call; it must live until KeepUnsentBody.
    void SupplyBody(const char* data, std::size_t size);
    // Copies the body bytes the transfer has not taken yet, so the caller's buffer may go.
    void KeepUnsentBody();

    const ExchangeSettings& settings() const { return settings_; }
    bool answered() const { return answered_; }
    int status() const { return status_; }
    // True when the answer is the proxy's refusal of the tunnel rather than the server's.
    bool answeredByTunnelProxy() const { return answeredByTunnelProxy_; }
    // The `index`-th value of a header of the answer.
    bool Header(const char* name, std::size_t index, std::string* value) const;
    // Where a redirect of the answer points, resolved against the request's URL; empty if none.
    std::string RedirectUrl() const;
    std::uint64_t bodyBytesSupplied() const { return feedBase_ + feedSize_; }

  private:
    ErrorCode Configure();
    ErrorCode Drive(const std::function<bool()>& goal);
    void CollectResult();
    ErrorCode Fail(ErrorCode code);
    void Touch() { lastActivity_ = std::chrono::steady_clock::now(); }
    void HeadComplete();
    void PromotePendingAnswer();
    void UpdatePause();

    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static size_t OnBody(char* data, size_t size, size_t count, void* self);
    static size_t OnUpload(char* buffer, size_t size, size_t count, void* self);
    static int OnSeek(void* self, curl_off_t offset, int origin);
    static int OnDebug(CURL* easy, curl_infotype type, char* data, size_t size, void* self);

    struct ListDeleter {
        void operator()(curl_slist* list) const { curl_slist_free_all(list); }
    };
    using HeaderLines = std::unique_ptr<curl_slist, ListDeleter>;

    ExchangeSettings settings_;
    Lifeline& life_;
    TlsState tls_;
    HeaderLines headerList_, proxyHeaderList_;
    std::unique_ptr<TransferPair> pair_;
    bool added_ = false;
    bool attached_ = false;
    bool trace_ = false;
    long receiveTimeoutMs_ = 0;

    int headStatus_ = 0;  // of the head being read; 0 before its status line
    std::size_t headBytes_ = 0;
    bool tunnelUp_ = false;
    int connectStatus_ = 0;  // the proxy's refusal of the tunnel
    int status_ = 0;
    bool answered_ = false;
    bool pendingAnswer_ = false;  // a challenge the library may still answer itself
    bool answeredByTunnelProxy_ = false;
    bool requestSent_ = false;
    bool invalidResponse_ = false;

    BodyWindow window_;
    bool receivePaused_ = false;
    std::size_t pausedPiece_ = 0;
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
