#include "signal_waiter.h"

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <ctime>
#include <system_error>

namespace {

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

timespec ToTimespec(std::chrono::milliseconds period) {
    timespec time{};
    time.tv_sec = static_cast<time_t>(period.count() / 1000);
    time.tv_nsec = static_cast<long>((period.count() % 1000) * 1000000);
    return time;
}

}  // namespace

SignalWaiter::SignalWaiter(SignalAction onSignal, IdleAction onIdle,
                           std::chrono::milliseconds idlePeriod)
    : onSignal_(std::move(onSignal)), onIdle_(std::move(onIdle)), idlePeriod_(idlePeriod) {
    sigset_t set = StopSignals();
    int error = pthread_sigmask(SIG_BLOCK, &set, nullptr);
    if (error != 0) throw std::system_error(error, std::generic_category(), "pthread_sigmask");
    thread_ = std::thread([this] { Wait(); });
}

SignalWaiter::~SignalWaiter() {
    stopping_ = true;
    // The signal is blocked everywhere, so the waiter's own wait takes it at once: it wakes
    // the waiter, it does not terminate anything.
    // NOLINTNEXTLINE(bugprone-bad-signal-to-kill-thread,cert-pos44-c)
    pthread_kill(thread_.native_handle(), SIGTERM);
    thread_.join();
}

void SignalWaiter::Wait() {
    const sigset_t set = StopSignals();
    const timespec timeout = ToTimespec(idlePeriod_);
    while (!stopping_) {
        int signal = sigtimedwait(&set, nullptr, &timeout);
        if (stopping_) break;
        if (signal > 0) {
            onSignal_(signal);
        } else if (errno == EAGAIN && onIdle_) {
            onIdle_();
        }
    }
}
