// The table behind every HINTERNET. Handle values are serial numbers that are never reused,
// so a stale value is simply not found; a call holds a reference to the object it works on,
// so a close from another thread never frees memory that the call still uses.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/posix/wininet.h"

namespace platform::internet {

enum class HandleKind { Root, Connection, Request };

class InternetObject {
  public:
    explicit InternetObject(HandleKind kind) : kind_(kind) {}
    virtual ~InternetObject() = default;
    InternetObject(const InternetObject&) = delete;
    InternetObject& operator=(const InternetObject&) = delete;

    HandleKind kind() const { return kind_; }
    bool closed() const { return closed_.load(std::memory_order_acquire); }

    // Handles opened under this one, closed with it.
    void AddChild(HINTERNET child);
    void RemoveChild(HINTERNET child);
    std::vector<HINTERNET> TakeChildren();
    virtual std::shared_ptr<InternetObject> Parent() const { return nullptr; }

    // Marks the object closed and wakes whatever blocks on it.
    void MarkClosed();

  protected:
    virtual void OnClose() {}

  private:
    const HandleKind kind_;
    std::atomic<bool> closed_{false};
    std::mutex childrenMutex_;
    std::vector<HINTERNET> children_;
};

class InternetHandles {
  public:
    static InternetHandles& Instance();

    HINTERNET Add(std::shared_ptr<InternetObject> object);
    std::shared_ptr<InternetObject> Find(HINTERNET handle) const;

    // The object of the kind wanted; null with the error code (6 for a handle that is not
    // open, 12018 for one of another kind) otherwise.
    template <typename T>
    std::shared_ptr<T> FindAs(HINTERNET handle, HandleKind kind, DWORD* error) const {
        std::shared_ptr<InternetObject> object = Find(handle);
        if (!object) {
            *error = ERROR_INVALID_HANDLE;
            return nullptr;
        }
        if (object->kind() != kind) {
            *error = ERROR_INTERNET_INCORRECT_HANDLE_TYPE;
            return nullptr;
        }
        return std::static_pointer_cast<T>(object);
    }

    // Closes the handle and every handle opened under it. False for a handle not open.
    bool Close(HINTERNET handle);

  private:
    std::shared_ptr<InternetObject> Remove(HINTERNET handle);

    mutable std::mutex mutex_;
    std::unordered_map<std::uintptr_t, std::shared_ptr<InternetObject>> objects_;
    std::uintptr_t nextValue_ = 0x10000;
};

}  // namespace platform::internet
