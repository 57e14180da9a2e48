// The small enumerations that the exports and the session share.
#pragma once

#include <cstdint>

namespace zemuser {

// Scheme of a connection; the value chooses the default port.
enum class ConnectMode : std::uint32_t {
    ModeHttp = 1,   // port 80
    ModeHttps = 2,  // port 443
};

// What SendRequest sends.
enum class RequestKind : std::int32_t {
    RequestGet = 0,
    RequestForm = 1,
    RequestMultipart = 2,
};

// Service codes that SplitUrl yields; only these two are accepted by any caller.
constexpr std::uint32_t ServiceHttp = 3;
constexpr std::uint32_t ServiceHttps = 0x100B;
constexpr std::uint32_t ServiceUnknown = 0x1000;

// The user-agent text every transfer connects with.
constexpr const char kTransferAgent[] = "Mozilla/4.0 (compatible; )";

}  // namespace zemuser
