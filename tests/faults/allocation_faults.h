// Running out of memory on demand: the N-th allocation of the calling thread fails. Covers
// operator new and new[] wherever they are called, and malloc, calloc and realloc as the
// engine's own code calls them (the suite is linked with --wrap for those three). The transfer
// and TLS libraries allocate through their own malloc calls, which this does not reach.
#pragma once

#include <cstddef>

namespace fault_testing {

// Counts the calling thread's allocations for its lifetime; with `failAt` above 0 the
// failAt-th one fails (operator new throws std::bad_alloc, the C functions return null).
class AllocationFaultScope {
  public:
    explicit AllocationFaultScope(std::size_t failAt);
    ~AllocationFaultScope() { Stop(); }
    AllocationFaultScope(const AllocationFaultScope&) = delete;
    AllocationFaultScope& operator=(const AllocationFaultScope&) = delete;

    // Stops counting; the number of allocations seen.
    std::size_t Stop();
    // Whether the armed failure was delivered.
    bool Delivered() const;
};

// Runs `action(context)` once, on the calling thread, just before its first C allocation of at
// least `bytes` (the engine takes its request bodies from the heap, so this marks the moment
// between measuring a body and writing it). A null action cancels it.
void BeforeLargeAllocation(std::size_t bytes, void (*action)(void*), void* context);

}  // namespace fault_testing
