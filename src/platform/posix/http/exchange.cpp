#include "platform/posix/http/exchange.h"

#include <curl/header.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/posix/http/text_rules.h"
#include "platform/system.h"

namespace zemuser::platform::http {
namespace {

// Upper bound of one wait, so a lost wake-up costs at most this much.
constexpr std::chrono::milliseconds kLongestPoll{1000};
// A head beyond this is no answer a client should hold in memory.
constexpr std::size_t kLargestHeadBytes = std::size_t{256} * 1024;

// The library's failures that name one of ours whatever else is known (an unsupported
// protocol: also a head without a status line).
constexpr std::pair<CURLcode, ErrorCode> kPlainFailures[] = {
    {CURLE_UNSUPPORTED_PROTOCOL, kInvalidServerResponse},
    {CURLE_WEIRD_SERVER_REPLY, kInvalidServerResponse},
    {CURLE_GOT_NOTHING, kInvalidServerResponse},
    {CURLE_BAD_CONTENT_ENCODING, kInvalidServerResponse},
    {CURLE_URL_MALFORMAT, kInvalidUrl},
    {CURLE_COULDNT_RESOLVE_HOST, kNameNotResolved},
    {CURLE_COULDNT_RESOLVE_PROXY, kNameNotResolved},
    {CURLE_PROXY, kCannotConnect},
    {CURLE_OPERATION_TIMEDOUT, kTimeout},
    {CURLE_PARTIAL_FILE, kConnectionAborted},
    {CURLE_SEND_FAIL_REWIND, kConnectionAborted},
};

// The wire trace that ZEMUSER_NET_TRACE turns on: one debug output entry per piece of what the
// library says and sends, bodies left out and credentials blanked.
std::string TraceEntry(curl_infotype type, std::string_view text) {
    static const char* const kPrefixes[] = {"* ", "< ", "> "};  // text, header in, header out
    if (type > CURLINFO_HEADER_OUT) return std::string();
    std::string entry = std::string("zemuser net: ") + kPrefixes[type];
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::string_view name = line.substr(0, line.find(':'));
        if (EqualsIgnoreCase(name, "Authorization") ||
            EqualsIgnoreCase(name, "Proxy-Authorization")) {
            entry.append(name).append(": (not shown)");
        } else {
            entry.append(line);
        }
        if (!text.empty() && text != "\r\n") entry += '\n';
    }
    return entry;
}

}  // namespace

Exchange::Exchange(ExchangeSettings settings, Lifeline& life)
    : settings_(std::move(settings)), life_(life) {}

Exchange::~Exchange() {
    ReturnPair(std::move(pair_), added_);
}

ErrorCode Exchange::Start() {
    pair_ = TakePair();
    if (!pair_) return Fail(kNotEnoughMemory);
    const ErrorCode error = Configure();
    if (error != kNoError) return Fail(error);
    if (curl_multi_add_handle(pair_->multi, pair_->easy) != CURLM_OK) return Fail(kInternalError);
    added_ = true;
    return kNoError;
}

ErrorCode Exchange::Fail(ErrorCode code) {
    if (failure_ == kNoError) failure_ = code;
    return failure_;
}

ErrorCode Exchange::Drive(const std::function<bool()>& goal) {
    Touch();
    for (;;) {
        if (life_.closed()) return Fail(kCancelled);
        if (goal()) return kNoError;
        if (failure_ != kNoError || finished_) return failure_;
        int running = 0;
        if (curl_multi_perform(pair_->multi, &running) != CURLM_OK) return Fail(kInternalError);
        CollectResult();
        if (finished_ || failure_ != kNoError || goal()) continue;
        // The receive time-out runs once connected; until then the library's connect time-out
        // applies.
        long port = 0;
        if (!connected_ &&
            curl_easy_getinfo(pair_->easy, CURLINFO_PRIMARY_PORT, &port) == CURLE_OK && port != 0) {
            connected_ = true;
            Touch();
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            idleDeadline_ - std::chrono::steady_clock::now());
        if (connected_ && left.count() <= 0) return Fail(kTimeout);
        const auto wait = connected_ ? std::min(kLongestPoll, left) : kLongestPoll;
        // Only a waiting exchange is woken by a close: the close that ends every finished
        // transfer then writes to no wake-up pair, and the handle pair's next request does not
        // wake at once for nothing.
        life_.Attach(pair_->multi);
        if (!life_.closed()) {
            curl_multi_poll(pair_->multi, nullptr, 0, static_cast<int>(wait.count()), nullptr);
        }
        life_.Detach(pair_->multi);
    }
}

void Exchange::CollectResult() {
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(pair_->multi, &queued)) {
        if (message->msg != CURLMSG_DONE) continue;
        finished_ = true;
        const CURLcode code = message->data.result;
        long connectCode = 0;  // the proxy's answer to the CONNECT of a tunnel
        curl_easy_getinfo(pair_->easy, CURLINFO_HTTP_CONNECTCODE, &connectCode);
        if (code == CURLE_OK) {
            // A transfer that ends without a head did not speak HTTP.
            if (status_ == 0) Fail(kInvalidServerResponse);
            answered_ = status_ != 0;
        } else if (connectCode == 407 && !answered_) {
            // The proxy refused the tunnel until it gets credentials: that is the answer, so
            // the caller can supply them and send again.
            status_ = 407;
            answered_ = answeredByTunnelProxy_ = true;
        } else {
            Fail(FailureCode(code, connectCode));
        }
    }
}

ErrorCode Exchange::FailureCode(CURLcode code, long connectCode) const {
    const TlsChecks& tls = settings_.tls;
    if (invalidResponse_) return kInvalidServerResponse;
    if (connectCode >= 300) return kCannotConnect;  // the proxy refused the tunnel
    for (const auto& [failure, ours] : kPlainFailures) {
        if (code == failure) return ours;
    }
    // A server that demanded a certificate often just resets the connection afterwards.
    if (tls.clientCertificateRequested) return kClientCertificateNeeded;
    long osErrno = 0;
    curl_easy_getinfo(pair_->easy, CURLINFO_OS_ERRNO, &osErrno);
    // A reset while the library still confirms the connect comes after the server accepted
    // it: the same dropped connection as a reset seen a moment later, by a read.
    if (code == CURLE_COULDNT_CONNECT) {
        return osErrno == ECONNRESET ? kConnectionReset : kCannotConnect;
    }
    if (code == CURLE_SEND_ERROR || code == CURLE_RECV_ERROR) {
        return osErrno == ECONNRESET ? kConnectionReset : kConnectionAborted;
    }
    // The library refuses a giant header line this way.
    if (code == CURLE_OUT_OF_MEMORY) return answered_ ? kNotEnoughMemory : kInvalidServerResponse;
    // Any other failure before a secure answer is the handshake's, whatever the library calls
    // it.
    if (tls.unknownIssuerMet) return kUnknownAuthority;
    return settings_.secure && !answered_ ? kSecureFailure : kInternalError;
}

ErrorCode Exchange::SendAndWait(const char* body, std::size_t size) {
    // The transfer reads a copy: the caller's bytes may go when the call returns, even when the
    // server answered before taking them all.
    if (size > 0) keptBody_.assign(body, body + size);
    Feed(keptBody_.data(), keptBody_.size());
    return WaitForAnswer();
}

ErrorCode Exchange::Upload(const char* data, std::size_t size) {
    const std::uint64_t room = settings_.bodyLength - std::min(settings_.bodyLength, feedBase_);
    Feed(data, static_cast<std::size_t>(std::min<std::uint64_t>(size, room)));
    const ErrorCode error = Drive([this] { return feedTaken_ == feedSize_; });
    // What was not taken goes with the caller's buffer.
    feedBase_ += feedTaken_;
    feed_ = nullptr;
    feedSize_ = feedTaken_ = 0;
    return error;
}

void Exchange::Feed(const char* data, std::size_t size) {
    feed_ = data;
    feedSize_ = size;
    feedTaken_ = 0;
    Resume();
}

ErrorCode Exchange::Read(char* out, std::uint32_t size, std::uint32_t* count) {
    *count = 0;
    ErrorCode error = kNoError;
    while (*count < size && error == kNoError) {
        const std::size_t piece =
            std::min<std::size_t>(size - *count, pending_.size() - pendingTaken_);
        std::copy_n(pending_.data() + pendingTaken_, piece, out + *count);
        pendingTaken_ += piece;
        *count += static_cast<std::uint32_t>(piece);
        if (*count == size || finished_ || failure_ != kNoError) break;
        Resume();
        error = Drive([this] { return pendingTaken_ < pending_.size(); });
    }
    // Bytes that arrived are never lost: a close or a failure after some bytes of this call is
    // reported by the next call.
    if (*count > 0) return kNoError;
    return error != kNoError ? error : failure_;
}

// Resumes whichever direction has what it waited for: a reader for the held piece, or body
// bytes.
void Exchange::Resume() {
    const bool holdReceive = receivePaused_ && pendingTaken_ < pending_.size();
    const bool holdSend = sendPaused_ && feedTaken_ == feedSize_;
    if (holdReceive == receivePaused_ && holdSend == sendPaused_) return;
    receivePaused_ = holdReceive;
    sendPaused_ = holdSend;
    // Resuming may hand over held bytes at once, through the callbacks, which may pause again.
    curl_easy_pause(pair_->easy,
                    (holdReceive ? CURLPAUSE_RECV : 0) | (holdSend ? CURLPAUSE_SEND : 0));
}

void Exchange::HeadComplete() {
    headBytes_ = 0;
    long status = 0;
    curl_easy_getinfo(pair_->easy, CURLINFO_RESPONSE_CODE, &status);
    // Interim answers are skipped, as is the proxy's answer to a tunnel's CONNECT: the library
    // gives that one no answer code.
    if (status < 200) return;
    status_ = static_cast<int>(status);
    // With credentials the library answers a proxy's challenge itself; the answer is final only
    // if it gives up, which shows when a body comes or the transfer ends.
    answered_ = status != 407 || settings_.proxyAuth == 0 || settings_.tunnel;
}

bool Exchange::Header(const char* name, std::string* value) const {
    curl_header* header = nullptr;
    const unsigned origin = answeredByTunnelProxy_ ? CURLH_CONNECT : CURLH_HEADER;
    if (!answered_ || curl_easy_header(pair_->easy, name, 0, origin, -1, &header) != CURLHE_OK) {
        return false;
    }
    *value = header->value;
    return true;
}

size_t Exchange::OnHeader(char* data, size_t size, size_t count, void* self) {
    Exchange& exchange = *static_cast<Exchange*>(self);
    const std::size_t bytes = size * count;
    if (exchange.answered_) {  // trailers of a chunked body
        exchange.Touch();
        return bytes;
    }
    // Lines of a head are no progress: the whole head must come within the receive time-out,
    // or a server sending one line after another would hold the call forever.
    exchange.headBytes_ += bytes;
    if (exchange.headBytes_ > kLargestHeadBytes) {
        exchange.invalidResponse_ = true;
        return 0;
    }
    const std::string_view line(data, bytes);
    if (line == "\r\n" || line == "\n") exchange.HeadComplete();
    return bytes;
}

size_t Exchange::OnBody(char* data, size_t size, size_t count, void* self) {
    Exchange& exchange = *static_cast<Exchange*>(self);
    const std::size_t bytes = size * count;
    exchange.Touch();
    // Bytes after an unasked-for switch of protocols (101) are no answer: there is no status.
    if (exchange.status_ == 0) {
        exchange.invalidResponse_ = true;
        return 0;
    }
    exchange.answered_ = true;  // the library delivers no body of a challenge it answers
    if (exchange.pendingTaken_ < exchange.pending_.size()) {
        exchange.receivePaused_ = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    // No exception may cross the library's C frames: running out of memory ends the transfer.
    try {
        exchange.pending_.assign(data, bytes);
    } catch (...) {
        exchange.Fail(kNotEnoughMemory);
        return 0;
    }
    exchange.pendingTaken_ = 0;
    return bytes;
}

size_t Exchange::OnUpload(char* buffer, size_t size, size_t count, void* self) {
    Exchange& exchange = *static_cast<Exchange*>(self);
    exchange.bodyAsked_ = true;
    const std::size_t left = exchange.feedSize_ - exchange.feedTaken_;
    if (left > 0) {
        const std::size_t bytes = std::min(left, size * count);
        std::memcpy(buffer, exchange.feed_ + exchange.feedTaken_, bytes);
        exchange.feedTaken_ += bytes;
        exchange.Touch();
        return bytes;
    }
    if (exchange.feedBase_ + exchange.feedSize_ >= exchange.settings_.bodyLength) return 0;
    exchange.sendPaused_ = true;  // until the caller writes more of the body
    return CURL_READFUNC_PAUSE;
}

int Exchange::OnSeek(void* self, curl_off_t offset, int origin) {
    Exchange& exchange = *static_cast<Exchange*>(self);
    // Rewinding (to repeat the body for an authentication round) works within the bytes at
    // hand; earlier ones are gone.
    const curl_off_t inFeed = offset - static_cast<curl_off_t>(exchange.feedBase_);
    if (origin != SEEK_SET || inFeed < 0 || inFeed > static_cast<curl_off_t>(exchange.feedSize_)) {
        return CURL_SEEKFUNC_CANTSEEK;
    }
    exchange.feedTaken_ = static_cast<std::size_t>(inFeed);
    return CURL_SEEKFUNC_OK;
}

int Exchange::OnDebug(CURL* /*easy*/, curl_infotype type, char* data, size_t size, void*) {
    try {
        const std::string entry = TraceEntry(type, std::string_view(data, size));
        if (!entry.empty()) DebugOutput(entry.c_str());
    } catch (...) {  // out of memory: the entry is dropped, the transfer goes on
    }
    return 0;
}

}  // namespace zemuser::platform::http
