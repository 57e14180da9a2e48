#include "platform/posix/http/lifeline.h"

#include <algorithm>

namespace zemuser::platform::http {

std::shared_ptr<Lifeline> Lifeline::ForSession() {
    return std::shared_ptr<Lifeline>(new Lifeline(nullptr, std::make_shared<Tree>()));
}

std::shared_ptr<Lifeline> Lifeline::Child() const {
    return std::shared_ptr<Lifeline>(new Lifeline(shared_from_this(), tree_));
}

bool Lifeline::closed() const {
    for (const Lifeline* line = this; line != nullptr; line = line->parent_.get()) {
        if (line->closed_.load(std::memory_order_acquire)) return true;
    }
    return false;
}

void Lifeline::Close() {
    closed_.store(true, std::memory_order_release);
    // An exchange attaches before it first looks at the mark, so this wake-up is never lost.
    std::lock_guard<std::mutex> lock(tree_->mutex);
    for (CURLM* multi : tree_->running) curl_multi_wakeup(multi);
}

void Lifeline::Attach(CURLM* multi) {
    std::lock_guard<std::mutex> lock(tree_->mutex);
    tree_->running.push_back(multi);
}

void Lifeline::Detach(CURLM* multi) {
    std::lock_guard<std::mutex> lock(tree_->mutex);
    auto& running = tree_->running;
    running.erase(std::remove(running.begin(), running.end(), multi), running.end());
}

}  // namespace zemuser::platform::http
