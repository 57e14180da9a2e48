// The live objects behind opaque handles. A handle is checked against the table before use,
// so a stale or foreign value fails cleanly instead of being dereferenced or freed twice. An
// object found by one thread stays alive until that thread is done with it, even if another
// thread closes the handle meanwhile.
#pragma once

#include <memory>
#include <mutex>
#include <unordered_map>

namespace platform::posix {

template <typename T>
class HandleTable {
  public:
    // Takes the object in and returns its handle (the object's address).
    void* Add(std::shared_ptr<T> object) {
        void* handle = object.get();
        std::lock_guard<std::mutex> lock(mutex_);
        objects_[handle] = std::move(object);
        return handle;
    }

    std::shared_ptr<T> Find(const void* handle) const {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = objects_.find(handle);
        return found == objects_.end() ? nullptr : found->second;
    }

    // False when the handle is not (or no longer) in the table.
    bool Remove(const void* handle) {
        std::shared_ptr<T> removed;  // released outside the lock
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = objects_.find(handle);
        if (found == objects_.end()) return false;
        removed = std::move(found->second);
        objects_.erase(found);
        return true;
    }

  private:
    mutable std::mutex mutex_;
    std::unordered_map<const void*, std::shared_ptr<T>> objects_;
};

}  // namespace platform::posix
