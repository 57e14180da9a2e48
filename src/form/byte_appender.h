// Appends runs of bytes to a destination of fixed room. A run that would not fit is refused
// whole, so nothing is ever written past the room.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace form {

class ByteAppender {
  public:
    ByteAppender(char* destination, std::uint64_t room) : destination_(destination), room_(room) {}

    bool Append(std::string_view bytes) {
        if (bytes.size() > Remaining()) return false;
        if (!bytes.empty()) std::memcpy(destination_ + written_, bytes.data(), bytes.size());
        written_ += bytes.size();
        return true;
    }

    // Where the next byte goes, for writers that fill the destination themselves; they report
    // what they wrote through Advance.
    char* Cursor() const { return destination_ + written_; }
    void Advance(std::uint64_t count) { written_ += count <= Remaining() ? count : Remaining(); }

    std::uint64_t Remaining() const { return room_ - written_; }
    std::uint64_t Written() const { return written_; }

  private:
    char* destination_;
    std::uint64_t room_;
    std::uint64_t written_ = 0;
};

}  // namespace form
