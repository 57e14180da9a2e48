// Where a request goes and what of a send is still in progress between calls.
#pragma once

#include <cstdint>
#include <string>

#include "platform/posix/internet/request_headers.h"
#include "platform/posix/wininet.h"

namespace platform::internet {

struct Destination {
    bool secure = false;
    std::string host;
    INTERNET_PORT port = 0;
    std::string target;  // the request line's target
    bool absoluteTarget = false;
    std::string verb;
    bool hasBody = false;
    std::uint64_t bodyLength = 0;
};

// A body sent in parts: announced, written, then ended.
struct PartsInProgress {
    bool active = false;
    Destination destination;
    RequestHeaders headers;
    std::uint64_t announced = 0;
    std::uint64_t written = 0;
};

}  // namespace platform::internet
