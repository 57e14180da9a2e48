// A zero-filled block on the process heap, released with HeapFree unless handed over.
#pragma once

#include <cstddef>

namespace form {

class HeapBlock {
  public:
    HeapBlock() = default;
    ~HeapBlock();
    HeapBlock(const HeapBlock&) = delete;
    HeapBlock& operator=(const HeapBlock&) = delete;

    // Replaces any held block by a new one of `size` bytes; false (holding nothing) when the
    // heap refuses.
    bool Allocate(std::size_t size);
    // Moves the first `used` bytes into a new, larger block; the old one is kept when the
    // heap refuses.
    bool Grow(std::size_t size, std::size_t used);
    void Reset();

    char* data() const { return data_; }
    std::size_t size() const { return size_; }

    // The caller now owns the block and frees it with HeapFree on the process heap.
    char* Release();

  private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace form
