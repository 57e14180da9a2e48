// The allocator of the fault suites: every call counted, the chosen one failed.
#include <cerrno>
#include <cstdlib>
#include <new>

#include "fault_support.h"

// The real allocator, reached past the --wrap redirection of this binary.
extern "C" void* __real_malloc(std::size_t size);
extern "C" void* __real_calloc(std::size_t count, std::size_t size);
extern "C" void* __real_realloc(void* block, std::size_t size);

namespace fault_testing {

AllocationFaults& ThreadFaults() {
    static thread_local AllocationFaults faults{};
    return faults;
}

// Counts one allocation; true when it must fail. `watchedSize` is 0 for operator new.
static bool FailThisOne(std::size_t watchedSize) {
    AllocationFaults& faults = ThreadFaults();
    if (faults.watchAction != nullptr && watchedSize != 0 && watchedSize >= faults.watchBytes) {
        void (*action)() = faults.watchAction;
        faults.watchAction = nullptr;  // once, and never from inside the action itself
        action();
    }
    if (!faults.armed || ++faults.seen != faults.failAt) return false;
    faults.delivered = true;
    errno = ENOMEM;
    return true;
}

}  // namespace fault_testing

using fault_testing::FailThisOne;

extern "C" {
void* __wrap_malloc(std::size_t size) {
    return FailThisOne(size) ? nullptr : __real_malloc(size);
}
void* __wrap_calloc(std::size_t count, std::size_t size) {
    return FailThisOne(count * size) ? nullptr : __real_calloc(count, size);
}
void* __wrap_realloc(void* block, std::size_t size) {
    // A failed realloc leaves the old block as it was, which the caller still owns.
    return size != 0 && FailThisOne(size) ? nullptr : __real_realloc(block, size);
}
}  // extern "C"

// Every form is replaced, so that no block crosses to a sanitizer's own new or delete.
static void* NewBlockOrNull(std::size_t size) noexcept {
    return FailThisOne(0) ? nullptr : __real_malloc(size == 0 ? 1 : size);
}
static void* NewBlock(std::size_t size) {
    void* block = NewBlockOrNull(size);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}
// clang-format off
void* operator new(std::size_t size) { return NewBlock(size); }
void* operator new[](std::size_t size) { return NewBlock(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return NewBlockOrNull(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return NewBlockOrNull(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
// clang-format on
