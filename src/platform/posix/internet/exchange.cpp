#include "platform/posix/internet/exchange.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/posix/internet/error_mapping.h"
#include "platform/posix/internet/sigpipe_guard.h"
#include "platform/posix/internet/transfer_trace.h"
#include "platform/posix/kernel32.h"
#include "platform/posix/wininet.h"

namespace platform::internet {
namespace {

// Upper bound of one wait, so a lost wake-up costs at most this much.
constexpr int kLongestPollMs = 1000;

}  // namespace

Exchange::Exchange(ExchangeSettings settings, CancelSignal& cancel)
    : settings_(std::move(settings)), cancel_(cancel), window_(kBodyWindowBytes) {
    tls_.policy = settings_.tls;
}

Exchange::~Exchange() {
    // Ending a transfer may still write (a TLS close notice) to a peer that has gone.
    SigpipeGuard guard;
    cancel_.Detach();
    if (added_) curl_multi_remove_handle(multi_.get(), easy_.get());
    easy_.reset();
    multi_.reset();
}

DWORD Exchange::Start() {
    multi_.reset(curl_multi_init());
    easy_.reset(curl_easy_init());
    if (!multi_ || !easy_) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    const DWORD error = Configure();
    if (error != 0) return Fail(error);
    if (curl_multi_add_handle(multi_.get(), easy_.get()) != CURLM_OK) {
        return Fail(ERROR_INTERNET_INTERNAL_ERROR);
    }
    added_ = true;
    cancel_.Attach(multi_.get());
    return 0;
}

DWORD Exchange::Fail(DWORD code) {
    if (failure_ == 0) failure_ = code;
    return failure_;
}

DWORD Exchange::Drive(const std::function<bool()>& goal) {
    SigpipeGuard guard;
    Touch();
    for (;;) {
        if (cancel_.raised()) return Fail(ERROR_INTERNET_OPERATION_CANCELLED);
        if (goal()) return 0;
        if (failure_ != 0) return failure_;
        if (finished_) return 0;

        int running = 0;
        if (curl_multi_perform(multi_.get(), &running) != CURLM_OK) {
            return Fail(ERROR_INTERNET_INTERNAL_ERROR);
        }
        CollectResult();
        if (finished_ || failure_ != 0 || goal()) continue;

        if (!connected_) {
            curl_off_t connectTime = 0;
            curl_easy_getinfo(easy_.get(), CURLINFO_CONNECT_TIME_T, &connectTime);
            if (connectTime > 0) {
                connected_ = true;
                Touch();
            }
        }
        long waitMs = kLongestPollMs;
        if (connected_) {
            const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now() - lastActivity_)
                                  .count();
            if (idle >= settings_.timeouts.receiveMs) {
                FailureContext context;
                context.idleTimeout = true;
                return Fail(MapFailure(context));
            }
            waitMs = std::min<long>(waitMs, settings_.timeouts.receiveMs - idle);
        }
        curl_multi_poll(multi_.get(), nullptr, 0, static_cast<int>(waitMs), nullptr);
    }
}

void Exchange::CollectResult() {
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_.get(), &queued)) {
        if (message->msg != CURLMSG_DONE) continue;
        finished_ = true;
        const CURLcode code = message->data.result;
        if (code == CURLE_OK) {
            PromotePendingHead();
            // A transfer that ends without any head did not speak HTTP.
            if (!finalHead_) Fail(ERROR_HTTP_INVALID_SERVER_RESPONSE);
            continue;
        }
        long connectCode = 0;
        curl_easy_getinfo(easy_.get(), CURLINFO_HTTP_CONNECTCODE, &connectCode);
        if (connectCode == 407 && connectHead_ && !finalHead_) {
            // The proxy refused the tunnel until it gets credentials: that answer is the
            // response, so the caller can supply them and send again.
            finalHead_ = std::move(connectHead_);
            continue;
        }
        FailureContext context;
        context.code = code;
        context.invalidResponse = invalidResponse_;
        context.awaitingHead = !finalHead_;
        context.tunnelRefused = connectCode >= 300;
        context.tls = tls_.findings;
        curl_easy_getinfo(easy_.get(), CURLINFO_OS_ERRNO, &context.osErrno);
        Fail(MapFailure(context));
    }
}

DWORD Exchange::WaitUntilRequestSent() {
    return Drive([this] { return requestSent_ || finalHead_.has_value(); });
}

DWORD Exchange::WaitForHead() {
    return Drive([this] { return finalHead_.has_value(); });
}

DWORD Exchange::Upload(const char* data, std::size_t size) {
    const std::uint64_t supplied = bodyBytesSupplied();
    const std::uint64_t room =
        settings_.bodyLength > supplied ? settings_.bodyLength - supplied : 0;
    feedBase_ = supplied;
    feed_ = data;
    feedSize_ = static_cast<std::size_t>(std::min<std::uint64_t>(size, room));
    feedTaken_ = 0;
    UpdatePause();
    const DWORD error = Drive([this] { return feedTaken_ == feedSize_; });
    // Whatever was not taken is dropped with the caller's buffer.
    feedBase_ += feedTaken_;
    feed_ = nullptr;
    feedSize_ = 0;
    feedTaken_ = 0;
    return error;
}

void Exchange::SupplyBody(const char* data, std::size_t size) {
    feed_ = data;
    feedSize_ = size;
    feedTaken_ = 0;
    feedBase_ = 0;
}

void Exchange::KeepUnsentBody() {
    if (feed_ == nullptr || feedTaken_ == feedSize_) return;
    keptBody_.assign(feed_ + feedTaken_, feed_ + feedSize_);
    feedBase_ += feedTaken_;
    feed_ = keptBody_.data();
    feedSize_ = keptBody_.size();
    feedTaken_ = 0;
}

DWORD Exchange::Read(char* out, std::size_t size, std::size_t* count) {
    *count = 0;
    while (*count < size) {
        *count += window_.Take(out + *count, size - *count);
        if (*count == size || finished_ || failure_ != 0) break;
        UpdatePause();
        const std::size_t wanted = size - *count;
        const DWORD error =
            Drive([this, wanted] { return window_.available() >= wanted || receivePaused_; });
        if (error != 0) break;
    }
    *count += window_.Take(out + *count, size - *count);
    // Bytes that arrived are never lost: a close or a failure after some bytes of this call
    // is reported by the next call.
    if (*count > 0) return 0;
    if (cancel_.raised()) return Fail(ERROR_INTERNET_OPERATION_CANCELLED);
    return failure_;
}

// Resumes whichever direction has what it waited for: room in the window, or body bytes.
void Exchange::UpdatePause() {
    const bool keepReceivePaused =
        receivePaused_ && window_.available() > 0 && window_.free() < pausedPiece_;
    const bool keepSendPaused = sendPaused_ && feedTaken_ == feedSize_;
    if (keepReceivePaused == receivePaused_ && keepSendPaused == sendPaused_) return;
    receivePaused_ = keepReceivePaused;
    sendPaused_ = keepSendPaused;
    SigpipeGuard guard;
    // Resuming may hand over held bytes at once, through the callbacks, which may pause again.
    curl_easy_pause(easy_.get(), (keepReceivePaused ? CURLPAUSE_RECV : 0) |
                                     (keepSendPaused ? CURLPAUSE_SEND : 0));
}

void Exchange::Classify(ResponseHead head) {
    if (head.status >= 100 && head.status < 200) return;  // interim answers are skipped
    if (settings_.tunnel && !tunnelUp_) {
        if (head.status >= 200 && head.status < 300) {
            tunnelUp_ = true;
        } else {
            connectHead_ = std::move(head);
        }
        return;
    }
    // With credentials the library answers a challenge itself; the head is final only if it
    // gives up, which shows when the body comes or the transfer ends.
    if ((head.status == 407 && settings_.proxyCredentials) ||
        (head.status == 401 && settings_.serverCredentials)) {
        pendingAuthHead_ = std::move(head);
        return;
    }
    finalHead_ = std::move(head);
}

void Exchange::PromotePendingHead() {
    if (!finalHead_ && pendingAuthHead_) {
        finalHead_ = std::move(pendingAuthHead_);
        pendingAuthHead_.reset();
    }
}

size_t Exchange::OnHeader(char* data, size_t size, size_t count, void* self) {
    Exchange& exchange = *static_cast<Exchange*>(self);
    const std::size_t bytes = size * count;
    // Lines of a head are no progress: the whole head must come within the receive time-out,
    // or a server sending one header line after another would hold the call forever.
    if (exchange.finalHead_) {
        exchange.Touch();
        return bytes;  // trailers of a chunked body
    }
    // No exception may cross the transfer library's C frames: running out of memory ends
    // the transfer like any other failure.
    try {
        switch (exchange.reader_.Feed(std::string_view(data, bytes))) {
            case HeadReader::Step::More:
                return bytes;
            case HeadReader::Step::Complete:
                exchange.Classify(exchange.reader_.Take());
                return bytes;
            case HeadReader::Step::Invalid:
                break;
        }
    } catch (...) {
        exchange.Fail(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    exchange.invalidResponse_ = true;
    return 0;
}

size_t Exchange::OnBody(char* data, size_t size, size_t count, void* self) {
    Exchange& exchange = *static_cast<Exchange*>(self);
    const std::size_t bytes = size * count;
    exchange.Touch();
    exchange.PromotePendingHead();  // the library delivers no body of a challenge it answers
    bool appended = false;
    try {
        appended = exchange.window_.Append(data, bytes);
    } catch (...) {  // the window's first piece of memory was refused
        exchange.Fail(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    if (!appended) {
        exchange.receivePaused_ = true;
        exchange.pausedPiece_ = bytes;
        return CURL_WRITEFUNC_PAUSE;
    }
    return bytes;
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
            const std::string line = TransferTraceText(type, text);
            if (!line.empty()) OutputDebugStringA(line.c_str());
        } catch (...) {  // out of memory: the line is dropped, the transfer goes on
        }
    }
    return 0;
}

}  // namespace platform::internet
