#include "platform/posix/internet/cancel_signal.h"

namespace platform::internet {

void CancelSignal::Raise() {
    raised_.store(true, std::memory_order_release);
    std::lock_guard<std::mutex> lock(mutex_);
    if (multi_ != nullptr) curl_multi_wakeup(multi_);
}

void CancelSignal::Attach(CURLM* multi) {
    std::lock_guard<std::mutex> lock(mutex_);
    multi_ = multi;
}

void CancelSignal::Detach() {
    std::lock_guard<std::mutex> lock(mutex_);
    multi_ = nullptr;
}

}  // namespace platform::internet
