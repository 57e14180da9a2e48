// The optional trace of the transfers (ZEMUSER_NET_TRACE): the library's own messages and the
// heads sent and received, written to the debugger output, with credentials blanked out.
#pragma once

#include <curl/curl.h>

#include <string>
#include <string_view>

namespace platform::internet {

bool TransferTraceWanted();

// The trace text for one piece of the library's debug stream; empty when it is not traced.
std::string TransferTraceText(curl_infotype type, std::string_view text);

}  // namespace platform::internet
