#include "platform/posix/http/exchange.h"

#include <curl/header.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/posix/http/error_codes.h"
#include "platform/posix/http/failure_mapping.h"
#include "platform/posix/http/transfer_trace.h"
#include "platform/system.h"

namespace zemuser::platform::http {
namespace {

// Upper bound of one wait, so a lost wake-up costs at most this much.
constexpr int kLongestPollMs = 1000;
// Body bytes held for the reader before the transfer pauses.
constexpr std::size_t kBodyWindowBytes = std::size_t{512} * 1024;
// A head beyond this is no answer a client should hold in memory.
constexpr std::size_t kLargestHeadBytes = std::size_t{256} * 1024;

// The code of a status line ("HTTP/1.1 200 OK"); 0 when the line is none.
int StatusOf(std::string_view line) {
    if (line.substr(0, 5) != "HTTP/") return 0;
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos || line.size() < space + 4) return 0;
    int status = 0;
    for (std::size_t i = space + 1; i < space + 4; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(line[i]))) return 0;
        status = status * 10 + (line[i] - '0');
    }
    const bool ends =
        line.size() == space + 4 || !std::isdigit(static_cast<unsigned char>(line[space + 4]));
    return ends ? status : 0;
}

}  // namespace

Exchange::Exchange(ExchangeSettings settings, Lifeline& life)
    : settings_(std::move(settings)), life_(life), window_(kBodyWindowBytes) {
    tls_.policy = settings_.tls;
}

Exchange::~Exchange() {
    if (attached_) life_.Detach(pair_->multi);
    ReturnPair(std::move(pair_), added_);
}

ErrorCode Exchange::Start() {
    pair_ = TakePair();
    if (!pair_) return Fail(kNotEnoughMemory);
    const ErrorCode error = Configure();
    if (error != kNoError) return Fail(error);
    if (curl_multi_add_handle(pair_->multi, pair_->easy) != CURLM_OK) return Fail(kInternalError);
    added_ = true;
    life_.Attach(pair_->multi);
    attached_ = true;
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
        if (failure_ != kNoError) return failure_;
        if (finished_) return kNoError;

        int running = 0;
        if (curl_multi_perform(pair_->multi, &running) != CURLM_OK) return Fail(kInternalError);
        CollectResult();
        if (finished_ || failure_ != kNoError || goal()) continue;

        if (!connected_) {
            long port = 0;
            curl_easy_getinfo(pair_->easy, CURLINFO_PRIMARY_PORT, &port);
            // Until then the library's connect time-out applies.
            if (port != 0) {
                connected_ = true;
                Touch();
            }
        }
        long waitMs = kLongestPollMs;
        if (connected_) {
            const long idle =
                static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::steady_clock::now() - lastActivity_)
                                      .count());
            if (idle >= receiveTimeoutMs_) return Fail(kTimeout);
            waitMs = std::min(waitMs, receiveTimeoutMs_ - idle);
        }
        curl_multi_poll(pair_->multi, nullptr, 0, static_cast<int>(waitMs), nullptr);
    }
}

void Exchange::CollectResult() {
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(pair_->multi, &queued)) {
        if (message->msg != CURLMSG_DONE) continue;
        finished_ = true;
        const CURLcode code = message->data.result;
        if (code == CURLE_OK) {
            PromotePendingAnswer();
            // A transfer that ends without a head did not speak HTTP.
            if (!answered_) Fail(kInvalidServerResponse);
            continue;
        }
        if (connectStatus_ == 407 && !answered_) {
            // The proxy refused the tunnel until it gets credentials: that is the answer, so
            // the caller can supply them and send again.
            status_ = 407;
            answered_ = answeredByTunnelProxy_ = true;
            continue;
        }
        FailureContext context;
        context.code = code;
        context.invalidResponse = invalidResponse_;
        context.awaitingHead = !answered_;
        context.tunnelRefused = connectStatus_ >= 300;
        context.tls = tls_.findings;
        curl_easy_getinfo(pair_->easy, CURLINFO_OS_ERRNO, &context.osErrno);
        Fail(MapFailure(context));
    }
}

ErrorCode Exchange::WaitUntilRequestSent() {
    return Drive([this] { return requestSent_ || answered_; });
}

ErrorCode Exchange::WaitForAnswer() {
    return Drive([this] { return answered_; });
}

ErrorCode Exchange::Upload(const char* data, std::size_t size) {
    const std::uint64_t supplied = bodyBytesSupplied();
    const std::uint64_t room =
        settings_.bodyLength > supplied ? settings_.bodyLength - supplied : 0;
    feedBase_ = supplied;
    feed_ = data;
    feedSize_ = static_cast<std::size_t>(std::min<std::uint64_t>(size, room));
    feedTaken_ = 0;
    UpdatePause();
    const ErrorCode error = Drive([this] { return feedTaken_ == feedSize_; });
    // What was not taken goes with the caller's buffer.
    feedBase_ += feedTaken_;
    feed_ = nullptr;
    feedSize_ = feedTaken_ = 0;
    return error;
}

void Exchange::SupplyBody(const char* data, std::size_t size) {
    feed_ = data;
    feedSize_ = size;
    feedTaken_ = 0;
    feedBase_ = 0;
}

void Exchange::KeepUnsentBody() {
    if (feed_ == nullptr || feedTaken_ == feedSize_) {
        feed_ = nullptr;
        feedBase_ += feedTaken_;
        feedSize_ = feedTaken_ = 0;
        return;
    }
    keptBody_.assign(feed_ + feedTaken_, feed_ + feedSize_);
    feedBase_ += feedTaken_;
    feed_ = keptBody_.data();
    feedSize_ = keptBody_.size();
    feedTaken_ = 0;
}

ErrorCode Exchange::Read(char* out, std::size_t size, std::size_t* count) {
    readGot_ = window_.Take(out, size);
    ErrorCode error = kNoError;
    if (readGot_ < size && !finished_ && failure_ == kNoError) {
        // Bytes that come while the reader waits go straight into its buffer.
        readTarget_ = out;
        readWanted_ = size;
        UpdatePause();
        error = Drive([this] { return readGot_ == readWanted_; });
        readTarget_ = nullptr;
    }
    *count = readGot_;
    // Bytes that arrived are never lost: a close or a failure after some bytes of this call is
    // reported by the next call.
    if (*count > 0) return kNoError;
    return error != kNoError ? error : failure_;
}

// Resumes whichever direction has what it waited for: room for the held piece, or body bytes.
void Exchange::UpdatePause() {
    const bool keepReceivePaused =
        receivePaused_ && window_.available() > 0 && window_.free() < pausedPiece_;
    const bool keepSendPaused = sendPaused_ && feedTaken_ == feedSize_;
    if (keepReceivePaused == receivePaused_ && keepSendPaused == sendPaused_) return;
    receivePaused_ = keepReceivePaused;
    sendPaused_ = keepSendPaused;
    // Resuming may hand over held bytes at once, through the callbacks, which may pause again.
    curl_easy_pause(pair_->easy, (keepReceivePaused ? CURLPAUSE_RECV : 0) |
                                     (keepSendPaused ? CURLPAUSE_SEND : 0));
}

void Exchange::HeadComplete() {
    const int status = headStatus_;
    headStatus_ = 0;
    headBytes_ = 0;
    if (status < 200) return;  // interim answers are skipped
    if (settings_.tunnel && !tunnelUp_) {
        if (status < 300) {
            tunnelUp_ = true;
        } else {
            connectStatus_ = status;
        }
        return;
    }
    status_ = status;
    // With credentials the library answers a proxy's challenge itself; the answer is final only
    // if it gives up, which shows when a body comes or the transfer ends.
    pendingAnswer_ = status == 407 && settings_.proxyAuth != 0 && !settings_.tunnel;
    answered_ = !pendingAnswer_;
}

void Exchange::PromotePendingAnswer() {
    if (!pendingAnswer_) return;
    pendingAnswer_ = false;
    answered_ = true;
}

bool Exchange::Header(const char* name, std::size_t index, std::string* value) const {
    curl_header* header = nullptr;
    const unsigned origin = answeredByTunnelProxy_ ? CURLH_CONNECT : CURLH_HEADER;
    if (!answered_ ||
        curl_easy_header(pair_->easy, name, index, origin, -1, &header) != CURLHE_OK) {
        return false;
    }
    *value = header->value;
    return true;
}

std::string Exchange::RedirectUrl() const {
    char* url = nullptr;
    curl_easy_getinfo(pair_->easy, CURLINFO_REDIRECT_URL, &url);
    return url == nullptr ? std::string() : std::string(url);
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
    const std::string_view line(data, bytes);
    if (exchange.headBytes_ > kLargestHeadBytes) {
        exchange.invalidResponse_ = true;
        return 0;
    }
    if (exchange.headStatus_ == 0) {
        exchange.headStatus_ = StatusOf(line);
        if (exchange.headStatus_ == 0) {
            exchange.invalidResponse_ = true;
            return 0;
        }
    } else if (line == "\r\n" || line == "\n") {
        exchange.HeadComplete();
    }
    return bytes;
}

size_t Exchange::OnBody(char* data, size_t size, size_t count, void* self) {
    Exchange& exchange = *static_cast<Exchange*>(self);
    const std::size_t bytes = size * count;
    exchange.Touch();
    exchange.PromotePendingAnswer();  // the library delivers no body of a challenge it answers
    std::size_t direct = 0;
    if (exchange.readTarget_ != nullptr && exchange.window_.available() == 0) {
        direct = std::min(bytes, exchange.readWanted_ - exchange.readGot_);
        std::memcpy(exchange.readTarget_ + exchange.readGot_, data, direct);
        exchange.readGot_ += direct;
    }
    // No exception may cross the library's C frames: running out of memory ends the transfer.
    try {
        // After a direct copy the window is empty, and an empty window takes any piece.
        if (exchange.window_.Append(data + direct, bytes - direct)) return bytes;
    } catch (...) {
        exchange.Fail(kNotEnoughMemory);
        return 0;
    }
    exchange.receivePaused_ = true;
    exchange.pausedPiece_ = bytes;
    return CURL_WRITEFUNC_PAUSE;
}

size_t Exchange::OnUpload(char* buffer, size_t size, size_t count, void* self) {
    Exchange& exchange = *static_cast<Exchange*>(self);
    const std::size_t left = exchange.feedSize_ - exchange.feedTaken_;
    if (left > 0) {
        const std::size_t bytes = std::min(left, size * count);
        std::memcpy(buffer, exchange.feed_ + exchange.feedTaken_, bytes);
        exchange.feedTaken_ += bytes;
        exchange.Touch();
        return bytes;
    }
    if (exchange.bodyBytesSupplied() >= exchange.settings_.bodyLength) return 0;
    exchange.sendPaused_ = true;  // until the caller writes more of the body
    return CURL_READFUNC_PAUSE;
}

int Exchange::OnSeek(void* self, curl_off_t offset, int origin) {
    Exchange& exchange = *static_cast<Exchange*>(self);
    // Rewinding (to repeat the body for an authentication round) works within the bytes at
    // hand; earlier ones are gone.
    if (origin != SEEK_SET || offset < 0) return CURL_SEEKFUNC_CANTSEEK;
    const std::uint64_t position = static_cast<std::uint64_t>(offset);
    if (position < exchange.feedBase_ || position > exchange.feedBase_ + exchange.feedSize_) {
        return CURL_SEEKFUNC_CANTSEEK;
    }
    exchange.feedTaken_ = static_cast<std::size_t>(position - exchange.feedBase_);
    return CURL_SEEKFUNC_OK;
}

int Exchange::OnDebug(CURL* /*easy*/, curl_infotype type, char* data, size_t size, void* self) {
    Exchange& exchange = *static_cast<Exchange*>(self);
    const std::string_view text(data, size);
    if (type == CURLINFO_HEADER_OUT && text.substr(0, 8) != "CONNECT ") {
        exchange.requestSent_ = true;
    }
    if (exchange.trace_) {
        try {
            const std::string entry = TransferTraceText(type, text);
            if (!entry.empty()) DebugOutput(entry.c_str());
        } catch (...) {  // out of memory: the entry is dropped, the transfer goes on
        }
    }
    return 0;
}

}  // namespace zemuser::platform::http
