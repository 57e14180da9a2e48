// A platform object that a session shares with a cancelling thread: the session's thread uses
// it, another thread may take it out and close it at any moment. A user holds its own reference
// for the length of a call, so the object outlives a close that happens meanwhile.
#pragma once

#include <memory>
#include <mutex>
#include <utility>

namespace zemuser {

template <typename T>
class SharedHandle {
  public:
    std::shared_ptr<T> Load() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return object_;
    }
    void Store(std::shared_ptr<T> object) {
        std::lock_guard<std::mutex> lock(mutex_);
        object_ = std::move(object);
    }
    std::shared_ptr<T> Take() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(object_, nullptr);
    }
    // Takes the object out and closes it; the transferring and a cancelling thread never both
    // close one object, and a call blocked on it returns.
    void CloseAndClear() {
        if (std::shared_ptr<T> object = Take()) object->Close();
    }
    bool IsOpen() const { return Load() != nullptr; }

  private:
    mutable std::mutex mutex_;
    std::shared_ptr<T> object_;
};

}  // namespace zemuser
