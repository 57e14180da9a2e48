// Received body bytes waiting for the reader: a ring of fixed size, so memory stays bounded
// whatever the body's size. The transfer pauses when a piece does not fit.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>

namespace zemuser::platform::http {

class BodyWindow {
  public:
    explicit BodyWindow(std::size_t capacity) : capacity_(capacity) {}

    std::size_t available() const { return size_; }
    std::size_t free() const { return capacity_ - size_; }

    // Stores the whole piece, or nothing (false) when it does not fit. An empty window takes a
    // piece of any size. Throws std::bad_alloc when its memory is refused.
    bool Append(const char* data, std::size_t size);
    // Moves up to `size` bytes out; returns how many.
    std::size_t Take(char* out, std::size_t size);

  private:
    struct FreeRing {
        void operator()(char* ring) const { std::free(ring); }
    };
    std::size_t capacity_;
    // Allocated with the first piece and not zero-filled: a small answer touches one page of it.
    std::unique_ptr<char, FreeRing> ring_;
    std::size_t start_ = 0;
    std::size_t size_ = 0;
};

}  // namespace zemuser::platform::http
