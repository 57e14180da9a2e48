#include "platform/posix/internet/sigpipe_guard.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>

namespace platform::internet {
namespace {

bool SigpipePending() {
    sigset_t pending;
    sigemptyset(&pending);
    return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

}  // namespace

SigpipeGuard::SigpipeGuard() {
    pendingBefore_ = SigpipePending();
    sigset_t pipe, old;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    if (pthread_sigmask(SIG_BLOCK, &pipe, &old) == 0) {
        blockedHere_ = sigismember(&old, SIGPIPE) == 0;
    }
}

SigpipeGuard::~SigpipeGuard() {
    if (!blockedHere_) return;  // the caller blocks SIGPIPE itself; leave its signals alone
    if (!pendingBefore_ && SigpipePending()) {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        const timespec zero{0, 0};
        while (sigtimedwait(&pipe, nullptr, &zero) == -1 && errno == EINTR) {
        }
    }
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_UNBLOCK, &pipe, nullptr);
}

}  // namespace platform::internet
