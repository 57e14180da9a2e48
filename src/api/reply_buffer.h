// A reply collected whole, in a block of the runtime's malloc that can be handed to the host
// as it is (the host releases it with ZEMReleaseBuffer): the body is never copied once more.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "session/transfer_session.h"

namespace zemuser {

// The most bytes one reply may take: 2^31 - 1, or less when ZEMUSER_MAX_REPLY_BYTES says so.
std::size_t ReplyCeiling();

class ReplyBuffer {
  public:
    ReplyBuffer() = default;
    ~ReplyBuffer() { std::free(data_); }
    ReplyBuffer(const ReplyBuffer&) = delete;
    ReplyBuffer& operator=(const ReplyBuffer&) = delete;

    // Reads the body in pieces of 1024 bytes until a read yields nothing. Every byte is kept,
    // zero bytes included. False when memory ran out or the reply passed the ceiling.
    bool ReadAll(TransferSession& session);
    std::int32_t Length() const { return static_cast<std::int32_t>(length_); }
    // Hands the block, zero-terminated, to the caller; null when it cannot be made.
    char* Release();

  private:
    bool Reserve(std::size_t needed);

    char* data_ = nullptr;
    std::size_t length_ = 0;
    std::size_t capacity_ = 0;
    std::size_t ceiling_ = ReplyCeiling();
};

// Reads the whole reply and hands it out: the length through `outLength`, the zero-terminated
// block through `outBuffer` when it is not null. -1, with nothing written, when memory ran out.
std::int32_t HandOutReply(TransferSession& session, char** outBuffer, std::int32_t* outLength);

}  // namespace zemuser
