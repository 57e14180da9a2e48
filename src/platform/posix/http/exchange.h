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
#include "platform/posix/http/lifeline.h"

namespace zemuser::platform::http {

// The failure numbers this transport reports: those of the platform's internet layer, so both
// systems report alike.
constexpr ErrorCode kNotEnoughMemory = 8;
constexpr ErrorCode kInvalidParameter = 87;
constexpr ErrorCode kTimeout = 12002;
constexpr ErrorCode kInternalError = 12004;
constexpr ErrorCode kInvalidUrl = 12005;
constexpr ErrorCode kNameNotResolved = 12007;
constexpr ErrorCode kCancelled = 12017;
constexpr ErrorCode kIncorrectState = 12019;
constexpr ErrorCode kCannotConnect = 12029;
constexpr ErrorCode kConnectionAborted = 12030;
constexpr ErrorCode kConnectionReset = 12031;
constexpr ErrorCode kClientCertificateNeeded = 12044;
constexpr ErrorCode kUnknownAuthority = 12045;
constexpr ErrorCode kHeaderNotFound = 12150;
constexpr ErrorCode kInvalidServerResponse = 12152;
constexpr ErrorCode kInvalidHeader = 12153;
constexpr ErrorCode kHeaderExists = 12155;
constexpr ErrorCode kRedirectFailed = 12156;
constexpr ErrorCode kRedirectNeedsConfirmation = 12168;
constexpr ErrorCode kSecureFailure = 12175;

// The transfer library, set up once for the process (curl_library.cpp): every entry point that
// may reach it calls EnsureCurl first, and every transfer keeps its cookies in the one
// in-memory jar of CookieShare.
void EnsureCurl();
CURLSH* CookieShare();

// A multi handle and the easy handle that runs on it. Exchanges take them from a per-thread
// pool, so that a request costs no new multi handle and no new wake-up socket pair.
struct TransferPair {
    TransferPair() = default;
    ~TransferPair() {
        curl_easy_cleanup(easy);
        curl_multi_cleanup(multi);
    }
    TransferPair(const TransferPair&) = delete;
    TransferPair& operator=(const TransferPair&) = delete;
    CURLM* const multi = curl_multi_init();
    CURL* const easy = curl_easy_init();
};

// From the calling thread's pool, or new; null when out of memory.
std::unique_ptr<TransferPair> TakePair();
// Removes the easy handle from its multi (`added`), resets it, and keeps the pair in the
// calling thread's pool (or frees it when the pool is full).
void ReturnPair(std::unique_ptr<TransferPair> pair, bool added);

// What the handshake callbacks read and write; lives as long as the exchange's connection.
struct TlsChecks {
    bool checkName = true;             // refuse a certificate issued for another host name
    bool acceptDate = false;           // expired or not yet valid
    bool acceptUnknownIssuer = false;  // issuer not in the trust store, self-signed included
    bool clientCertificateChosen = false;
    // Found by the handshake:
    bool unknownIssuerMet = false;
    bool clientCertificateRequested = false;
};

// The transfer library's SSL context callback (in tls_checks.cpp): installs the verify and
// client-certificate callbacks of `checks` (a TlsChecks*) into a fresh OpenSSL context.
CURLcode InstallTlsChecks(CURL* curl, void* sslContext, void* checks);

struct ExchangeSettings {
    std::string url;     // where the library connects; relative Locations resolve against it
    std::string target;  // the request line's target, sent as it stands
    std::string verb;
    bool http11 = false;
    std::vector<std::string> headerLines;       // after the library's Host line, in order
    std::vector<std::string> proxyHeaderLines;  // for the CONNECT of a tunnel
    std::string proxy;                          // empty: straight to the server
    bool tunnel = false;                        // a secure request through an HTTP proxy
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

    // Each returns kNoError or the code of the failure.
    ErrorCode Start();
    // Once the head has gone out, the library asks for the body.
    ErrorCode WaitUntilRequestSent() {
        return Drive([this] { return bodyAsked_ || answered_; });
    }
    ErrorCode WaitForAnswer() {
        return Drive([this] { return answered_; });
    }
    // Sends the whole body and waits for the answer.
    ErrorCode SendAndWait(const char* body, std::size_t size);
    // Hands body bytes to the transfer and returns once it has taken them all.
    ErrorCode Upload(const char* data, std::size_t size);
    // Blocks until `size` bytes, the end of the body or a failure. Bytes that arrived before a
    // failure are returned first (with kNoError), the failure by the next call.
    ErrorCode Read(char* out, std::uint32_t size, std::uint32_t* count);

    bool answered() const { return answered_; }
    int status() const { return status_; }
    // True when the answer is the proxy's refusal of the tunnel rather than the server's.
    bool answeredByTunnelProxy() const { return answeredByTunnelProxy_; }
    bool Header(const char* name, std::string* value) const;
    // Where a redirect of the answer points, resolved against the request's URL; null if none.
    const char* RedirectUrl() const {
        char* url = nullptr;
        curl_easy_getinfo(pair_->easy, CURLINFO_REDIRECT_URL, &url);
        return url;
    }
    // The schemes a proxy offered when it asked for credentials (CURLAUTH_* bits).
    unsigned long ProxySchemes() const {
        long schemes = 0;
        curl_easy_getinfo(pair_->easy, CURLINFO_PROXYAUTH_AVAIL, &schemes);
        return static_cast<unsigned long>(schemes);
    }

  private:
    ErrorCode Configure();
    ErrorCode Drive(const std::function<bool()>& goal);
    void CollectResult();
    ErrorCode FailureCode(CURLcode code, long connectCode) const;
    ErrorCode Fail(ErrorCode code);
    // Progress: the receive time-out starts again.
    void Touch() { idleDeadline_ = std::chrono::steady_clock::now() + receiveTimeout_; }
    void HeadComplete();
    void Feed(const char* data, std::size_t size);
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
    std::chrono::milliseconds receiveTimeout_{0};

    std::size_t headBytes_ = 0;  // of the head being read
    int status_ = 0;
    bool answered_ = false;
    bool answeredByTunnelProxy_ = false;
    bool bodyAsked_ = false;
    bool invalidResponse_ = false;

    // The rest of the last piece of the body, for the next reads; while it lasts, the library
    // holds the next piece (paused), so memory stays bounded whatever the body's size.
    std::string pending_;
    std::size_t pendingTaken_ = 0;
    bool receivePaused_ = false;

    const char* feed_ = nullptr;  // body bytes being handed to the transfer
    std::size_t feedSize_ = 0;
    std::size_t feedTaken_ = 0;
    std::uint64_t feedBase_ = 0;  // body offset of feed_[0]
    std::vector<char> keptBody_;  // the body of a send in one call
    bool sendPaused_ = false;

    bool finished_ = false;
    ErrorCode failure_ = kNoError;
    bool connected_ = false;
    std::chrono::steady_clock::time_point idleDeadline_;
};

}  // namespace zemuser::platform::http
