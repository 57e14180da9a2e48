#include "form/heap_block.h"

#include <cstring>

#include "platform/platform.h"

namespace form {
namespace {

char* AllocateZeroed(std::size_t size) {
    return static_cast<char*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
}

}  // namespace

HeapBlock::~HeapBlock() {
    Reset();
}

bool HeapBlock::Allocate(std::size_t size) {
    Reset();
    data_ = AllocateZeroed(size);
    if (data_ == nullptr) return false;
    size_ = size;
    return true;
}

bool HeapBlock::Grow(std::size_t size, std::size_t used) {
    if (size <= size_) return true;
    char* larger = AllocateZeroed(size);
    if (larger == nullptr) return false;
    if (data_ != nullptr && used > 0) std::memcpy(larger, data_, used < size_ ? used : size_);
    Reset();
    data_ = larger;
    size_ = size;
    return true;
}

void HeapBlock::Reset() {
    if (data_ != nullptr) HeapFree(GetProcessHeap(), 0, data_);
    data_ = nullptr;
    size_ = 0;
}

char* HeapBlock::Release() {
    char* block = data_;
    data_ = nullptr;
    size_ = 0;
    return block;
}

}  // namespace form
