// The wire trace that ZEMUSER_NET_TRACE turns on: what the transfer library says and sends,
// one debug output entry per piece, with credentials blanked.
#pragma once

#include <curl/curl.h>

#include <string>
#include <string_view>

namespace zemuser::platform::http {

bool TransferTraceWanted();

// The entry for one piece of the library's debug stream; empty for pieces not traced (bodies).
std::string TransferTraceText(curl_infotype type, std::string_view text);

}  // namespace zemuser::platform::http
