// Sending a request over its handle: in one call, or with the body in parts; redirects that
// may be followed are followed here. Each returns 0 or an error code, and leaves the answer
// in the request's exchange.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/posix/windows_types.h"

namespace platform::internet {

class RequestObject;

DWORD SendWhole(RequestObject& request, std::string_view extraHeaders, const char* body,
                std::size_t bodyLength);
DWORD BeginSendInParts(RequestObject& request, std::string_view extraHeaders,
                       std::uint64_t bodyLength);
DWORD WriteBodyPart(RequestObject& request, const char* data, std::size_t size);
DWORD EndSendInParts(RequestObject& request);

}  // namespace platform::internet
