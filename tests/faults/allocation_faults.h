// Running out of memory on demand: the N-th allocation of the calling thread fails. Covers
// operator new and new[] wherever they are called, and malloc, calloc and realloc as the
// engine's own code calls them (the suite is linked with --wrap for those three). The transfer
// and TLS libraries allocate through their own malloc calls, which this does not reach.
// With ZEMUSER_FAULT_BACKTRACE set, the stack of every failed allocation goes to standard error.
#pragma once

#include <cstddef>

namespace fault_testing {

// Starts counting the calling thread's allocations; with `failAt` above 0 the failAt-th one
// fails (operator new throws std::bad_alloc, the C functions return null).
void ArmAllocationFaults(std::size_t failAt);
// Stops counting and gives the number of allocations seen since arming.
std::size_t DisarmAllocationFaults();
// Whether the armed failure has been delivered.
bool AllocationFaultDelivered();

// Runs `action(context)` once, on the calling thread, just before the first C allocation of
// at least `bytes` (the engine takes its request bodies from the process heap, so this marks
// the moment between measuring a body and writing it).
void BeforeLargeAllocation(std::size_t bytes, void (*action)(void*), void* context);

// Counts (and fails) allocations for its lifetime.
class AllocationFaultScope {
  public:
    explicit AllocationFaultScope(std::size_t failAt) { ArmAllocationFaults(failAt); }
    ~AllocationFaultScope() { Stop(); }
    AllocationFaultScope(const AllocationFaultScope&) = delete;
    AllocationFaultScope& operator=(const AllocationFaultScope&) = delete;

    std::size_t Stop() {
        if (!stopped_) count_ = DisarmAllocationFaults();
        stopped_ = true;
        return count_;
    }

  private:
    bool stopped_ = false;
    std::size_t count_ = 0;
};

}  // namespace fault_testing
