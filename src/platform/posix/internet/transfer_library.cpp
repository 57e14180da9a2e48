#include <curl/curl.h>

#include <mutex>

#include "platform/posix/internet/api_support.h"

namespace platform::internet {

void EnsureTransferLibrary() {
    // Set up once, never torn down: the host may unload us while its other code still uses
    // the same library.
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace platform::internet
