#include "platform/posix/http/body_window.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace zemuser::platform::http {

bool BodyWindow::Append(const char* data, std::size_t size) {
    if (size == 0) return true;
    if (size_ == 0 && size > capacity_) {
        // A piece larger than the whole window cannot wait for room: the window grows to it.
        capacity_ = size;
        ring_.reset();
        start_ = 0;
    }
    if (size > free()) return false;
    if (!ring_) {
        ring_.reset(static_cast<char*>(std::malloc(capacity_)));
        if (!ring_) throw std::bad_alloc();
    }
    const std::size_t end = (start_ + size_) % capacity_;
    const std::size_t first = std::min(size, capacity_ - end);
    std::memcpy(ring_.get() + end, data, first);
    std::memcpy(ring_.get(), data + first, size - first);
    size_ += size;
    return true;
}

std::size_t BodyWindow::Take(char* out, std::size_t size) {
    const std::size_t count = std::min(size, size_);
    if (count == 0) return 0;
    const std::size_t first = std::min(count, capacity_ - start_);
    std::memcpy(out, ring_.get() + start_, first);
    std::memcpy(out + first, ring_.get(), count - first);
    start_ = (start_ + count) % capacity_;
    size_ -= count;
    if (size_ == 0) start_ = 0;
    return count;
}

}  // namespace zemuser::platform::http
