// The transfer library's options for one exchange.
#include <cstdlib>

#include "platform/posix/internet/exchange.h"
#include "platform/posix/internet/transfer_trace.h"
#include "platform/posix/wininet.h"

namespace platform::internet {
namespace {

curl_slist* MakeList(const std::vector<std::string>& lines) {
    curl_slist* list = nullptr;
    for (const std::string& line : lines) {
        curl_slist* grown = curl_slist_append(list, line.c_str());
        if (grown == nullptr) {
            curl_slist_free_all(list);
            return nullptr;
        }
        list = grown;
    }
    return list;
}

}  // namespace

DWORD Exchange::Configure() {
    CURL* easy = easy_.get();
    trace_ = TransferTraceWanted();
    headerList_.reset(MakeList(settings_.headerLines));
    proxyHeaderList_.reset(MakeList(settings_.proxyHeaderLines));
    if ((!headerList_ && !settings_.headerLines.empty()) ||
        (!proxyHeaderList_ && !settings_.proxyHeaderLines.empty())) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }

    bool ok = true;
    auto set = [&](CURLoption option, auto value) {
        ok = ok && curl_easy_setopt(easy, option, value) == CURLE_OK;
    };
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_URL, settings_.url.c_str());
    set(CURLOPT_REQUEST_TARGET, settings_.target.c_str());
    set(CURLOPT_HTTP_VERSION,
        static_cast<long>(settings_.http11 ? CURL_HTTP_VERSION_1_1 : CURL_HTTP_VERSION_1_0));
    if (settings_.headOnly) {
        set(CURLOPT_NOBODY, 1L);
    } else if (settings_.hasBody) {
        set(CURLOPT_POST, 1L);
        set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(settings_.bodyLength));
        set(CURLOPT_READFUNCTION, &Exchange::OnUpload);
        set(CURLOPT_READDATA, this);
        set(CURLOPT_SEEKFUNCTION, &Exchange::OnSeek);
        set(CURLOPT_SEEKDATA, this);
    } else {
        set(CURLOPT_HTTPGET, 1L);
    }
    set(CURLOPT_CUSTOMREQUEST, settings_.verb.c_str());
    set(CURLOPT_HTTPHEADER, headerList_.get());
    // Server headers stay off the proxy's CONNECT, which gets only its own.
    set(CURLOPT_HEADEROPT, static_cast<long>(CURLHEADER_SEPARATE));
    set(CURLOPT_PROXYHEADER, proxyHeaderList_.get());

    // The proxy is chosen here, not by the library, so it is known whether one is used; the
    // empty no-proxy list keeps the library from applying the environment a second time.
    set(CURLOPT_PROXY, settings_.proxy.url.c_str());
    set(CURLOPT_NOPROXY, "");
    if (settings_.proxyCredentials) {
        set(CURLOPT_PROXYUSERNAME, settings_.proxyUser.c_str());
        set(CURLOPT_PROXYPASSWORD, settings_.proxyPassword.c_str());
        set(CURLOPT_PROXYAUTH, settings_.proxyAuth);
    }
    if (settings_.serverCredentials) {
        set(CURLOPT_USERNAME, settings_.serverUser.c_str());
        set(CURLOPT_PASSWORD, settings_.serverPassword.c_str());
        set(CURLOPT_HTTPAUTH, static_cast<unsigned long>(CURLAUTH_ANY));
    }

    if (settings_.secure) {
        set(CURLOPT_SSL_VERIFYPEER, 1L);
        set(CURLOPT_SSL_VERIFYHOST, settings_.verifyHost ? 2L : 0L);
        set(CURLOPT_SSL_CTX_FUNCTION, &InstallTlsChecks);
        set(CURLOPT_SSL_CTX_DATA, static_cast<void*>(&tls_));
        // The trust store of the standard OpenSSL variables when they are set.
        if (const char* file = std::getenv("SSL_CERT_FILE"); file != nullptr && *file != '\0') {
            set(CURLOPT_CAINFO, file);
        }
        if (const char* dir = std::getenv("SSL_CERT_DIR"); dir != nullptr && *dir != '\0') {
            set(CURLOPT_CAPATH, dir);
        }
    }

    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
    set(CURLOPT_CONNECTTIMEOUT_MS, settings_.timeouts.connectMs);
    set(CURLOPT_HEADERFUNCTION, &Exchange::OnHeader);
    set(CURLOPT_HEADERDATA, this);
    set(CURLOPT_WRITEFUNCTION, &Exchange::OnBody);
    set(CURLOPT_WRITEDATA, this);
    // The debug stream tells when the request head has gone out; it is also the trace.
    set(CURLOPT_VERBOSE, 1L);
    set(CURLOPT_DEBUGFUNCTION, &Exchange::OnDebug);
    set(CURLOPT_DEBUGDATA, this);
    return ok ? 0 : ERROR_INTERNET_INTERNAL_ERROR;
}

}  // namespace platform::internet
