#include "platform/posix/internet/internet_handles.h"

#include <algorithm>

#include "platform/posix/no_destructor.h"

namespace platform::internet {
namespace {

// Distinct handle values follow each other at this distance, so that a value off by a few
// bytes is never another live handle.
constexpr std::uintptr_t kHandleStep = 0x10;

}  // namespace

void InternetObject::AddChild(HINTERNET child) {
    std::lock_guard<std::mutex> lock(childrenMutex_);
    children_.push_back(child);
}

void InternetObject::RemoveChild(HINTERNET child) {
    std::lock_guard<std::mutex> lock(childrenMutex_);
    for (auto it = children_.begin(); it != children_.end(); ++it) {
        if (*it == child) {
            children_.erase(it);
            return;
        }
    }
}

std::vector<HINTERNET> InternetObject::TakeChildren() {
    std::lock_guard<std::mutex> lock(childrenMutex_);
    return std::move(children_);
}

void InternetObject::MarkClosed() {
    closed_.store(true, std::memory_order_release);
    OnClose();
}

InternetHandles& InternetHandles::Instance() {
    // Never destroyed: a host thread may still close a handle while the process exits.
    static platform::posix::NoDestructor<InternetHandles> handles;
    return handles.get();
}

HINTERNET InternetHandles::Add(std::shared_ptr<InternetObject> object) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::uintptr_t value = nextValue_;
    nextValue_ += kHandleStep;
    objects_.emplace(value, std::move(object));
    return reinterpret_cast<HINTERNET>(value);
}

std::shared_ptr<InternetObject> InternetHandles::Find(HINTERNET handle) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = objects_.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == objects_.end() ? nullptr : found->second;
}

std::shared_ptr<InternetObject> InternetHandles::Remove(HINTERNET handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = objects_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == objects_.end()) return nullptr;
    std::shared_ptr<InternetObject> object = std::move(found->second);
    objects_.erase(found);
    return object;
}

bool InternetHandles::Close(HINTERNET handle) {
    std::shared_ptr<InternetObject> object = Remove(handle);
    if (!object) return false;
    object->MarkClosed();
    if (std::shared_ptr<InternetObject> parent = object->Parent()) parent->RemoveChild(handle);
    for (HINTERNET child : object->TakeChildren()) Close(child);
    return true;  // the object goes when the last call using it lets go
}

}  // namespace platform::internet
