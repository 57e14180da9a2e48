// Storage for a process-wide object that is never destroyed. The engine's own exit-time
// actions still close files and registry keys after static destructors would have run, so the
// tables behind those handles must outlive every static destructor.
#pragma once

#include <new>
#include <utility>

namespace platform::posix {

template <typename T>
class NoDestructor {
  public:
    template <typename... Args>
    explicit NoDestructor(Args&&... args) {
        new (storage_) T(std::forward<Args>(args)...);
    }
    NoDestructor(const NoDestructor&) = delete;
    NoDestructor& operator=(const NoDestructor&) = delete;

    T& get() { return *std::launder(reinterpret_cast<T*>(storage_)); }

  private:
    alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace platform::posix
