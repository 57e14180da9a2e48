#include "platform/windows/http/internet_handle.h"

#include <utility>

namespace zemuser::platform::windows {

ErrorCode LastFailure() {
    const DWORD code = GetLastError();
    return code != 0 ? code : ERROR_INTERNET_INTERNAL_ERROR;
}

InternetHandle::InternetHandle(std::shared_ptr<InternetHandle> parent)
    : parent_(std::move(parent)) {}

bool InternetHandle::Adopt(HINTERNET handle) {
    // WinINet returns null on failure; the all-ones value is no handle either.
    if (handle == nullptr || handle == reinterpret_cast<HINTERNET>(INVALID_HANDLE_VALUE)) {
        return false;
    }
    handle_.store(handle);
    return true;
}

HINTERNET InternetHandle::Get() const {
    return AncestorsOpen() ? handle_.load() : nullptr;
}

bool InternetHandle::AncestorsOpen() const {
    for (const InternetHandle* node = parent_.get(); node != nullptr; node = node->parent_.get()) {
        if (node->handle_.load() == nullptr) return false;
    }
    return true;
}

std::mutex& InternetHandle::TreeLock() {
    InternetHandle* root = this;
    while (root->parent_ != nullptr) root = root->parent_.get();
    return root->treeLock_;
}

void InternetHandle::Close() {
    std::lock_guard<std::mutex> lock(TreeLock());
    HINTERNET handle = handle_.exchange(nullptr);
    // A handle whose parent is closed has been freed with it.
    if (handle != nullptr && AncestorsOpen()) InternetCloseHandle(handle);
}

}  // namespace zemuser::platform::windows
