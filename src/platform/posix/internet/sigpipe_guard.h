// Keeps SIGPIPE from reaching the host while this thread writes to the network: the signal
// is blocked for the thread only, and one that the writes raised is consumed before the mask
// is restored. No process-wide handler is touched.
#pragma once

#include <csignal>

namespace platform::internet {

class SigpipeGuard {
  public:
    SigpipeGuard();
    ~SigpipeGuard();
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

  private:
    bool blockedHere_ = false;    // SIGPIPE was not blocked before
    bool pendingBefore_ = false;  // one was already pending: it is not ours to consume
};

}  // namespace platform::internet
