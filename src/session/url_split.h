// Splits a host's URL into the pieces a connection and a request need, through the platform's
// canonicalisation and cracking.
#pragma once

#include <cstdint>
#include <string>

#include "platform/http_transport.h"

namespace zemuser {

// Fills service code, host, object path (query included) and port; false when the URL does
// not split (the service code is then ServiceUnknown).
bool SplitUrl(const char* url, std::uint32_t* serviceCode, std::string* host, std::string* path,
              std::uint16_t* port);

// The service code for a scheme of the cracker.
std::uint32_t ServiceCodeForScheme(platform::UrlScheme scheme);

}  // namespace zemuser
