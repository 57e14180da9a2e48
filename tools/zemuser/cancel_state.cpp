#include "cancel_state.h"

#include <unistd.h>

#include "exit_codes.h"

void CancelState::OnSignal() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (cancelled_) {
        static const char kEraseLine[] = "\r\033[K";  // a progress line may be showing
        if (isatty(STDERR_FILENO)) (void)!write(STDERR_FILENO, kEraseLine, sizeof kEraseLine - 1);
        static const char kMessage[] = "zemuser: cancelled\n";
        (void)!write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
        _exit(kExitCancelled);
    }
    cancelled_ = true;
    if (active_ != nullptr) CancelTransferFile(active_);
    wake_.notify_all();
}

void CancelState::OnIdle() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (cancelled_ && active_ != nullptr) CancelTransferFile(active_);
}

bool CancelState::Cancelled() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return cancelled_;
}

bool CancelState::SleepFor(std::chrono::milliseconds period) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !wake_.wait_for(lock, period, [this] { return cancelled_; });
}

CancelState::ActiveTransfer::ActiveTransfer(CancelState& state, TransferHandle handle)
    : state_(state) {
    std::lock_guard<std::mutex> lock(state_.mutex_);
    state_.active_ = handle;
}

CancelState::ActiveTransfer::~ActiveTransfer() {
    std::lock_guard<std::mutex> lock(state_.mutex_);
    state_.active_ = nullptr;
}
