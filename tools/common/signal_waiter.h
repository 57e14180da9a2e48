// Ctrl-C and termination requests handled on an ordinary thread instead of in a signal
// handler, so that the reaction may lock, allocate and call into libraries.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

class SignalWaiter {
  public:
    using SignalAction = std::function<void(int signal)>;
    using IdleAction = std::function<void()>;

    // Blocks SIGINT and SIGTERM in the calling thread, and so in every thread started after
    // it: construct this before any other thread exists. `onSignal` runs on the waiter's own
    // thread for each signal; `onIdle` (optional) runs there whenever `idlePeriod` passes
    // without one.
    explicit SignalWaiter(SignalAction onSignal, IdleAction onIdle = nullptr,
                          std::chrono::milliseconds idlePeriod = std::chrono::milliseconds(100));
    ~SignalWaiter();  // stops and joins the waiter thread
    SignalWaiter(const SignalWaiter&) = delete;
    SignalWaiter& operator=(const SignalWaiter&) = delete;

  private:
    void Wait();

    SignalAction onSignal_;
    IdleAction onIdle_;
    std::chrono::milliseconds idlePeriod_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};
