// Running out of memory on demand: the N-th allocation of the calling thread fails. Covers
// operator new wherever it is called, and malloc, calloc and realloc as the engine's own code
// calls them (the suite is linked with --wrap for those three); the transfer and TLS libraries'
// own calls are not reached.
#pragma once

#include <cstddef>

namespace fault_testing {

// Counts the calling thread's allocations while it lives; with `failAt` above 0 the failAt-th
// one fails (operator new throws std::bad_alloc, the C functions return null).
class AllocationFaultScope {
  public:
    explicit AllocationFaultScope(std::size_t failAt);
    ~AllocationFaultScope() { Stop(); }
    std::size_t Stop();      // stops counting; the number of allocations seen
    bool Delivered() const;  // whether the armed failure happened
};

// Runs `action` once, on the calling thread, just before its first C allocation of at least
// `bytes` (the engine takes request bodies from the heap: the moment between measuring a body
// and writing it).
void BeforeLargeAllocation(std::size_t bytes, void (*action)());

}  // namespace fault_testing
