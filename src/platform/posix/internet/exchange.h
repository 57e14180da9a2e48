// One HTTP exchange: a request sent and its response received, driven on the calling thread
// with the transfer library's multi interface. Every wait returns when its goal is reached,
// when the transfer fails or times out, or at once when the request handle is closed.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/internet/body_window.h"
#include "platform/posix/internet/cancel_signal.h"
#include "platform/posix/internet/proxy_settings.h"
#include "platform/posix/internet/response_head.h"
#include "platform/posix/internet/tls_policy.h"
#include "platform/posix/internet/transfer_limits.h"
#include "platform/posix/windows_types.h"

namespace platform::internet {

struct ExchangeSettings {
    std::string url;     // where the connection goes: "http://host:port/"
    std::string target;  // the request line's target, sent as it stands
    std::string verb;
    bool http11 = false;
    std::vector<std::string> headerLines;       // every header the request sends
    std::vector<std::string> proxyHeaderLines;  // for the CONNECT of a tunnel
    ProxyChoice proxy;
    bool tunnel = false;  // a secure request through an HTTP proxy
    bool proxyCredentials = false;
    std::string proxyUser, proxyPassword;
    unsigned long proxyAuth = CURLAUTH_ANY;
    bool serverCredentials = false;
    std::string serverUser, serverPassword;
    bool secure = false;
    bool verifyHost = true;
    TlsPolicy tls;
    bool hasBody = false;
    std::uint64_t bodyLength = 0;
    bool headOnly = false;
    TransferTimeouts timeouts;
};

class Exchange {
  public:
    Exchange(ExchangeSettings settings, CancelSignal& cancel);
    ~Exchange();
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;

    // Each returns 0 or an error code of the internet interface.
    DWORD Start();
    DWORD WaitUntilRequestSent();
    // Hands body bytes to the transfer and returns once they are all taken; the bytes are
    // read straight from `data`, which need only live for the call.
    DWORD Upload(const char* data, std::size_t size);
    DWORD WaitForHead();
    // Blocks until `size` bytes, the end of the body or a failure. Bytes that arrived before a
    // failure are returned first (0 is returned), the failure on the next call.
    DWORD Read(char* out, std::size_t size, std::size_t* count);

    // The whole body of a request sent in one call; it must live until KeepUnsentBody.
    void SupplyBody(const char* data, std::size_t size);
    // The body bytes not yet taken by the transfer are copied, so the caller's buffer may go.
    void KeepUnsentBody();

    const ResponseHead* head() const { return finalHead_ ? &*finalHead_ : nullptr; }
    std::uint64_t bodyBytesSupplied() const { return feedBase_ + feedSize_; }

  private:
    DWORD Configure();
    DWORD Drive(const std::function<bool()>& goal);
    void CollectResult();
    DWORD Fail(DWORD code);
    void Touch() { lastActivity_ = std::chrono::steady_clock::now(); }
    void Classify(ResponseHead head);
    void PromotePendingHead();
    void UpdatePause();

    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static size_t OnBody(char* data, size_t size, size_t count, void* self);
    static size_t OnUpload(char* buffer, size_t size, size_t count, void* self);
    static int OnSeek(void* self, curl_off_t offset, int origin);
    static int OnDebug(CURL* easy, curl_infotype type, char* data, size_t size, void* self);

    struct EasyDeleter {
        void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
    };
    struct MultiDeleter {
        void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
    };
    struct ListDeleter {
        void operator()(curl_slist* list) const { curl_slist_free_all(list); }
    };

    ExchangeSettings settings_;
    CancelSignal& cancel_;
    TlsState tls_;
    std::unique_ptr<curl_slist, ListDeleter> headerList_;
    std::unique_ptr<curl_slist, ListDeleter> proxyHeaderList_;
    std::unique_ptr<CURLM, MultiDeleter> multi_;
    std::unique_ptr<CURL, EasyDeleter> easy_;
    bool added_ = false;
    bool trace_ = false;

    HeadReader reader_;
    std::optional<ResponseHead> finalHead_, pendingAuthHead_, connectHead_;
    bool tunnelUp_ = false;
    bool requestSent_ = false;
    bool invalidResponse_ = false;

    BodyWindow window_;
    bool receivePaused_ = false;
    std::size_t pausedPiece_ = 0;

    const char* feed_ = nullptr;  // body bytes being handed to the transfer
    std::size_t feedSize_ = 0;
    std::size_t feedTaken_ = 0;
    std::uint64_t feedBase_ = 0;  // body offset of feed_[0]
    std::vector<char> keptBody_;
    bool sendPaused_ = false;

    bool finished_ = false;
    DWORD failure_ = 0;
    bool connected_ = false;
    std::chrono::steady_clock::time_point lastActivity_;
};

}  // namespace platform::internet
