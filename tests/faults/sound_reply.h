// How a reply handed to the host ends soundly, judged alike by the allocation faults, the soak and
// the server-answer fuzzer: -1 hands nothing out and leaves the length as it was; any other result
// is that many bytes (the start of `body`, when the body is known) and then a zero byte.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

inline bool SoundReply(std::int32_t result, const char* bytes, std::int32_t length,
                       std::int32_t untouched, const std::string* body = nullptr) {
    if (result == -1) return bytes == nullptr && length == untouched;
    return result >= 0 && bytes != nullptr && length == result && bytes[result] == '\0' &&
           (body == nullptr || (static_cast<std::size_t>(result) <= body->size() &&
                                std::memcmp(bytes, body->data(), length) == 0));
}
