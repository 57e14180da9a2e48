// The header lines a request sends, in order: User-Agent, the request's own headers (Accept
// first), Content-Length, Cookie, Connection; then blank entries that keep the transfer
// library from adding defaults of its own that the request did not ask for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/posix/internet/request_headers.h"

namespace platform::internet {

struct OutgoingHeaders {
    const RequestHeaders* headers = nullptr;
    std::string agent;
    bool hasBody = false;
    std::uint64_t bodyLength = 0;
    std::string cookies;  // "a=1; b=2" from the jar, or empty
    bool keepConnection = false;
};

std::vector<std::string> BuildHeaderLines(const OutgoingHeaders& outgoing);

}  // namespace platform::internet
