#include "api/reply_buffer.h"

#include <cstdlib>
#include <limits>

namespace zemuser {

namespace {

constexpr std::uint32_t kPieceSize = 1024;
constexpr std::size_t kLongestReply = std::numeric_limits<std::int32_t>::max();

}  // namespace

std::size_t ReplyCeiling() {
    // A lower ceiling for hosts that fetch from servers they do not trust with their memory.
    const char* text = std::getenv("ZEMUSER_MAX_REPLY_BYTES");
    if (text == nullptr || *text == '\0') return kLongestReply;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (*end != '\0' || text[0] == '-') return kLongestReply;
    return value < kLongestReply ? static_cast<std::size_t>(value) : kLongestReply;
}

bool ReplyBuffer::Reserve(std::size_t needed) {
    if (needed <= capacity_) return true;
    // Doubling keeps the copies few; it stops at what the reply may take, so that it can
    // neither overflow nor ask for far more than a reply at the ceiling needs.
    const std::size_t most = ceiling_ + kPieceSize + 1;
    std::size_t capacity = capacity_ < 4096 ? 4096 : capacity_;
    while (capacity < needed) capacity = capacity < most / 2 ? capacity * 2 : most;
    if (capacity < needed) return false;
    // realloc grows large blocks in place, so the body is not copied as it grows.
    void* grown = std::realloc(data_, capacity);
    if (grown == nullptr) return false;
    data_ = static_cast<char*>(grown);
    capacity_ = capacity;
    return true;
}

bool ReplyBuffer::ReadAll(TransferSession& session) {
    for (;;) {
        // Room for one more piece and the terminating zero.
        if (!Reserve(length_ + kPieceSize + 1)) return false;
        std::uint32_t count = session.ReadResponse(data_ + length_, kPieceSize);
        if (count == 0) return true;
        length_ += count;
        if (length_ > ceiling_) return false;
    }
}

char* ReplyBuffer::Release() {
    if (!Reserve(length_ + 1)) return nullptr;
    data_[length_] = '\0';
    // Give back the slack of the last doubling; shrinking in place does not copy.
    if (capacity_ - length_ > 65536) {
        if (void* shrunk = std::realloc(data_, length_ + 1)) data_ = static_cast<char*>(shrunk);
    }
    char* block = data_;
    data_ = nullptr;
    length_ = capacity_ = 0;
    return block;
}

std::int32_t HandOutReply(TransferSession& session, char** outBuffer, std::int32_t* outLength) {
    ReplyBuffer reply;
    if (!reply.ReadAll(session)) return -1;
    std::int32_t length = reply.Length();
    char* block = nullptr;
    if (outBuffer != nullptr && (block = reply.Release()) == nullptr) return -1;
    if (outLength != nullptr) *outLength = length;
    if (outBuffer != nullptr) *outBuffer = block;
    return length;
}

}  // namespace zemuser
