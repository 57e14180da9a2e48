// What Ctrl-C (SIGINT) or SIGTERM does to a running command: the transfer in progress is
// cancelled through the library, and waits between steps end early.
#pragma once

#include <zemuser.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

class CancelState {
  public:
    // Called on the signal-waiting thread. The first signal cancels; a second one, for a
    // transfer that does not stop, ends the process at once.
    void OnSignal();
    // Called on the signal-waiting thread between signals. The library forgets a cancel that
    // comes before its connection is made, so it is repeated until the transfer returns.
    void OnIdle();

    bool Cancelled() const;
    // Sleeps for `period`; false when a cancel ended the wait early (or came before).
    bool SleepFor(std::chrono::milliseconds period);

    // Makes `handle` the one that a cancel reaches while the scope lives. The handle must
    // outlive the scope.
    class ActiveTransfer {
      public:
        ActiveTransfer(CancelState& state, TransferHandle handle);
        ~ActiveTransfer();
        ActiveTransfer(const ActiveTransfer&) = delete;
        ActiveTransfer& operator=(const ActiveTransfer&) = delete;

      private:
        CancelState& state_;
    };

  private:
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool cancelled_ = false;
    TransferHandle active_ = nullptr;  // guarded by mutex_, so it is never cancelled once ended
};
