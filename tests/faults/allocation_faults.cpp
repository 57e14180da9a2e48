#include "allocation_faults.h"

#include <execinfo.h>
#include <unistd.h>

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
    bool armed;
    bool delivered;
    std::size_t seen;
    std::size_t failAt;
    std::size_t watchBytes;
    void (*watchAction)(void*);
    void* watchContext;
};

thread_local ThreadFaults t_faults{};

// With ZEMUSER_FAULT_BACKTRACE set, the stack of each failed allocation goes to standard
// error, to find the code that mishandled it.
void ShowWhereOnRequest() {
    static const bool wanted = std::getenv("ZEMUSER_FAULT_BACKTRACE") != nullptr;
    if (!wanted) return;
    void* frames[48];
    const int depth = backtrace(frames, 48);
    backtrace_symbols_fd(frames, depth, STDERR_FILENO);
    static const char kEnd[] = "----\n";
    if (write(STDERR_FILENO, kEnd, sizeof kEnd - 1) < 0) return;
}

// Counts one allocation; true when it is the one that must fail.
bool CountAndDecide() {
    ThreadFaults& faults = t_faults;
    if (!faults.armed) return false;
    ++faults.seen;
    if (faults.failAt == 0 || faults.seen != faults.failAt) return false;
    faults.delivered = true;
    ShowWhereOnRequest();
    return true;
}

void RunWatch(std::size_t bytes) {
    ThreadFaults& faults = t_faults;
    if (faults.watchAction == nullptr || bytes < faults.watchBytes) return;
    void (*action)(void*) = faults.watchAction;
    faults.watchAction = nullptr;  // once, and never from inside the action itself
    action(faults.watchContext);
}

void* NewBlock(std::size_t size) {
    if (CountAndDecide()) throw std::bad_alloc();
    void* block = __real_malloc(size == 0 ? 1 : size);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

void* NewBlockOrNull(std::size_t size) noexcept {
    if (CountAndDecide()) return nullptr;
    return __real_malloc(size == 0 ? 1 : size);
}

}  // namespace

void ArmAllocationFaults(std::size_t failAt) {
    t_faults.seen = 0;
    t_faults.failAt = failAt;
    t_faults.delivered = false;
    t_faults.armed = true;
}

std::size_t DisarmAllocationFaults() {
    t_faults.armed = false;
    return t_faults.seen;
}

bool AllocationFaultDelivered() {
    return t_faults.delivered;
}

void BeforeLargeAllocation(std::size_t bytes, void (*action)(void*), void* context) {
    t_faults.watchBytes = bytes;
    t_faults.watchContext = context;
    t_faults.watchAction = action;
}

}  // namespace fault_testing

using fault_testing::CountAndDecide;
using fault_testing::NewBlock;
using fault_testing::NewBlockOrNull;
using fault_testing::RunWatch;

extern "C" {

void* __wrap_malloc(std::size_t size) {
    RunWatch(size);
    if (CountAndDecide()) {
        errno = ENOMEM;
        return nullptr;
    }
    return __real_malloc(size);
}

void* __wrap_calloc(std::size_t count, std::size_t size) {
    RunWatch(count * size);
    if (CountAndDecide()) {
        errno = ENOMEM;
        return nullptr;
    }
    return __real_calloc(count, size);
}

void* __wrap_realloc(void* block, std::size_t size) {
    RunWatch(size);
    // A failed realloc leaves the old block as it was, which the caller still owns.
    if (size != 0 && CountAndDecide()) {
        errno = ENOMEM;
        return nullptr;
    }
    return __real_realloc(block, size);
}

}  // extern "C"

// The replaceable global allocation functions. Blocks come from malloc and go back to free,
// so the sanitizers' leak checks see them like any other.
void* operator new(std::size_t size) {
    return NewBlock(size);
}
void* operator new[](std::size_t size) {
    return NewBlock(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return NewBlockOrNull(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return NewBlockOrNull(size);
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete[](void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}
