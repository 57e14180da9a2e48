// The process heap over the C runtime's allocator.
#include <cstdlib>

#include "platform/posix/kernel32.h"

namespace {

// Only the address matters: it names the one heap there is.
char processHeap;

}  // namespace

HANDLE GetProcessHeap() {
    return &processHeap;
}

LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    if (heap != &processHeap) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // A request for 0 bytes still yields a block of its own, as on Windows.
    const SIZE_T size = bytes == 0 ? 1 : bytes;
    void* block = (flags & HEAP_ZERO_MEMORY) ? std::calloc(1, size) : std::malloc(size);
    if (block == nullptr) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return block;
}

BOOL HeapFree(HANDLE heap, DWORD /*flags*/, LPVOID block) {
    if (heap != &processHeap) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::free(block);
    return TRUE;
}
