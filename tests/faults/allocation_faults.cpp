#include "allocation_faults.h"

#include <cerrno>
#include <cstdlib>
#include <new>

// The real allocator, reached past the --wrap redirection of this binary.
extern "C" void* __real_malloc(std::size_t size);
extern "C" void* __real_calloc(std::size_t count, std::size_t size);
extern "C" void* __real_realloc(void* block, std::size_t size);

namespace fault_testing {
namespace {

// Trivially constructible, so that the allocator can use it on any thread at any time.
struct ThreadFaults {
    bool armed, delivered;
    std::size_t seen, failAt, watchBytes;
    void (*watchAction)();
};
thread_local ThreadFaults t_faults{};

}  // namespace

AllocationFaultScope::AllocationFaultScope(std::size_t failAt) {
    t_faults = {true, false, 0, failAt, t_faults.watchBytes, t_faults.watchAction};
}

std::size_t AllocationFaultScope::Stop() {
    t_faults.armed = false;
    return t_faults.seen;
}

bool AllocationFaultScope::Delivered() const {
    return t_faults.delivered;
}

void BeforeLargeAllocation(std::size_t bytes, void (*action)()) {
    t_faults.watchBytes = bytes;
    t_faults.watchAction = action;
}

// Counts one allocation; true when it is the one that must fail. `watchedSize` is the size of
// a C allocation, 0 for operator new, which the watch leaves alone.
static bool FailThisOne(std::size_t watchedSize) {
    ThreadFaults& faults = t_faults;
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

// The replaceable global allocation functions. Blocks come from malloc and go back to free,
// so the sanitizers' leak checks see them like any other.
static void* NewBlock(std::size_t size) {
    void* block = FailThisOne(0) ? nullptr : __real_malloc(size == 0 ? 1 : size);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}
static void* NewBlockOrNull(std::size_t size) noexcept {
    return FailThisOne(0) ? nullptr : __real_malloc(size == 0 ? 1 : size);
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
