// The closed mark of a session, connection or request. Close may come from any thread: it
// marks the object (and so everything opened under it) and wakes every exchange waiting in the
// session's tree, so a blocked call returns at once; an exchange that finds itself not closed
// simply waits again.
#pragma once

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace zemuser::platform::http {

class Lifeline {
  public:
    // The mark of an object opened under `parent`, or of a session: the root of a new tree.
    explicit Lifeline(std::shared_ptr<const Lifeline> parent = nullptr)
        : parent_(std::move(parent)), tree_(parent_ ? parent_->tree_ : std::make_shared<Tree>()) {}

    // True when this object or one it was opened under is closed.
    bool closed() const {
        return closed_.load(std::memory_order_acquire) || (parent_ && parent_->closed());
    }
    void Close() {
        closed_.store(true, std::memory_order_release);
        // An exchange attaches before it looks at the mark for its wait, so this wake-up is
        // never lost.
        std::lock_guard<std::mutex> lock(tree_->mutex);
        for (CURLM* multi : tree_->waiting) curl_multi_wakeup(multi);
    }

    // The multi handle of an exchange about to wait, for Close to wake; detached after the
    // wait.
    void Attach(CURLM* multi) {
        std::lock_guard<std::mutex> lock(tree_->mutex);
        tree_->waiting.push_back(multi);
    }
    void Detach(CURLM* multi) {
        std::lock_guard<std::mutex> lock(tree_->mutex);
        auto& waiting = tree_->waiting;
        waiting.erase(std::remove(waiting.begin(), waiting.end(), multi), waiting.end());
    }

  private:
    struct Tree {
        std::mutex mutex;
        std::vector<CURLM*> waiting;
    };
    std::atomic<bool> closed_{false};
    const std::shared_ptr<const Lifeline> parent_;
    const std::shared_ptr<Tree> tree_;
};

}  // namespace zemuser::platform::http
