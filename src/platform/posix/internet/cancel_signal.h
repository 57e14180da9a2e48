// The closed mark of a request handle. Closing may come from any thread; it wakes the
// transfer that the owning thread is driving, so the blocked call returns at once.
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <mutex>

namespace platform::internet {

class CancelSignal {
  public:
    bool raised() const { return raised_.load(std::memory_order_acquire); }
    void Raise();

    // The transfer that Raise wakes; null when none runs.
    void Attach(CURLM* multi);
    void Detach();

  private:
    std::atomic<bool> raised_{false};
    std::mutex mutex_;  // keeps the multi handle alive while it is being woken
    CURLM* multi_ = nullptr;
};

}  // namespace platform::internet
