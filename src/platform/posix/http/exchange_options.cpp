// The transfer library's options for one exchange.
#include <cstdlib>

#include "platform/posix/http/exchange.h"

namespace zemuser::platform::http {
namespace {

// Large enough that small reads cost little.
constexpr long kReceiveBufferBytes = 96L * 1024;
constexpr long kDefaultTimeoutMs = 60000;

// A time-out the tests may shorten through the environment.
long TimeoutMs(const char* name) {
    const char* text = std::getenv(name);
    const long value = text == nullptr ? 0 : std::strtol(text, nullptr, 10);
    return value > 0 ? value : kDefaultTimeoutMs;
}

// Appends `lines` to the library's list `list` (an owning pointer); false when out of memory.
template <typename List>
bool AppendLines(List& list, const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        curl_slist* head = curl_slist_append(list.get(), line.c_str());
        if (head == nullptr) return false;
        if (!list) list.reset(head);
    }
    return true;
}

}  // namespace

ErrorCode Exchange::Configure() {
    receiveTimeout_ = std::chrono::milliseconds(TimeoutMs("ZEMUSER_RECEIVE_TIMEOUT_MS"));
    if (!AppendLines(headerList_, settings_.headerLines) ||
        !AppendLines(proxyHeaderList_, settings_.proxyHeaderLines)) {
        return kNotEnoughMemory;
    }

    bool ok = true;
    auto set = [&](CURLoption option, auto value) {
        ok = ok && curl_easy_setopt(pair_->easy, option, value) == CURLE_OK;
    };
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_URL, settings_.url.c_str());
    set(CURLOPT_REQUEST_TARGET, settings_.target.c_str());
    set(CURLOPT_HTTP_VERSION,
        static_cast<long>(settings_.http11 ? CURL_HTTP_VERSION_1_1 : CURL_HTTP_VERSION_1_0));
    if (settings_.verb == "HEAD") {
        set(CURLOPT_NOBODY, 1L);
    } else if (settings_.hasBody) {
        set(CURLOPT_POST, 1L);
        set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(settings_.bodyLength));
        set(CURLOPT_READFUNCTION, &Exchange::OnUpload);
        set(CURLOPT_READDATA, this);
        set(CURLOPT_SEEKFUNCTION, &Exchange::OnSeek);
        set(CURLOPT_SEEKDATA, this);
    }
    set(CURLOPT_CUSTOMREQUEST, settings_.verb.c_str());
    set(CURLOPT_HTTPHEADER, headerList_.get());
    // Server headers stay off the proxy's CONNECT, which gets only its own.
    set(CURLOPT_HEADEROPT, static_cast<long>(CURLHEADER_SEPARATE));
    set(CURLOPT_PROXYHEADER, proxyHeaderList_.get());

    // The proxy is chosen by us, so it is known whether one is used; the empty no-proxy list
    // keeps the library from applying the environment a second time.
    set(CURLOPT_PROXY, settings_.proxy.c_str());
    set(CURLOPT_NOPROXY, "");
    if (settings_.proxyAuth != 0) {
        set(CURLOPT_PROXYUSERNAME, settings_.proxyUser.c_str());
        set(CURLOPT_PROXYPASSWORD, settings_.proxyPassword.c_str());
        set(CURLOPT_PROXYAUTH, settings_.proxyAuth);
    }

    if (settings_.secure) {
        set(CURLOPT_SSL_VERIFYPEER, 1L);
        set(CURLOPT_SSL_VERIFYHOST, settings_.tls.checkName ? 2L : 0L);
        set(CURLOPT_SSL_CTX_FUNCTION, &InstallTlsChecks);
        set(CURLOPT_SSL_CTX_DATA, static_cast<void*>(&settings_.tls));
        // A session resumed from a handshake under a laxer policy would skip the checks.
        set(CURLOPT_SSL_SESSIONID_CACHE, 0L);
        // The trust store of the standard OpenSSL variables when they are set.
        for (const auto& [variable, option] : {std::pair{"SSL_CERT_FILE", CURLOPT_CAINFO},
                                               std::pair{"SSL_CERT_DIR", CURLOPT_CAPATH}}) {
            const char* value = std::getenv(variable);
            if (value != nullptr && *value != '\0') set(option, value);
        }
    }

    // Cookies live in the process-wide jar, in memory only: no file is ever written.
    set(CURLOPT_SHARE, CookieShare());
    set(CURLOPT_COOKIEFILE, "");
    // A plain connection straight to the server stays open for the thread's next request to it,
    // as keep-alive requests ask. A TLS connection carries the checks of its handshake and a
    // proxy's may carry its credentials: those serve one request only.
    set(CURLOPT_FORBID_REUSE, settings_.secure || !settings_.proxy.empty() ? 1L : 0L);
    // Only a request without a body takes such a connection: should the server close it just
    // then, the library sends the request again on a new one, which it cannot do with a body
    // handed over piece by piece.
    set(CURLOPT_FRESH_CONNECT, settings_.hasBody ? 1L : 0L);
    set(CURLOPT_NOSIGNAL, 1L);
    // Only a size: a handle whose last transfer broke off keeps its buffer, and this library
    // version then refuses the option, which must not fail the transfer.
    curl_easy_setopt(pair_->easy, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
    set(CURLOPT_CONNECTTIMEOUT_MS, TimeoutMs("ZEMUSER_CONNECT_TIMEOUT_MS"));
    set(CURLOPT_HEADERFUNCTION, &Exchange::OnHeader);
    set(CURLOPT_HEADERDATA, this);
    set(CURLOPT_WRITEFUNCTION, &Exchange::OnBody);
    set(CURLOPT_WRITEDATA, this);
    if (const char* trace = std::getenv("ZEMUSER_NET_TRACE");
        trace != nullptr && *trace != '\0' && *trace != '0') {
        set(CURLOPT_VERBOSE, 1L);
        set(CURLOPT_DEBUGFUNCTION, &Exchange::OnDebug);
    }
    return ok ? kNoError : kInternalError;
}

}  // namespace zemuser::platform::http
