// The one table from transfer failures to the error codes of the internet interface.
#pragma once

#include <curl/curl.h>

#include "platform/posix/internet/tls_policy.h"
#include "platform/posix/windows_types.h"

namespace platform::internet {

// What the exchange knew when its transfer ended in `code`.
struct FailureContext {
    CURLcode code = CURLE_OK;
    bool cancelled = false;        // the handle was closed
    bool idleTimeout = false;      // nothing received for the receive time-out
    bool invalidResponse = false;  // the response head was not well-formed HTTP
    bool awaitingHead = false;     // no complete response head had arrived
    bool tunnelRefused = false;    // the proxy answered the CONNECT with a failure status
    TlsFindings tls;
    long osErrno = 0;  // the system error behind a failed send or receive
};

DWORD MapFailure(const FailureContext& context);

}  // namespace platform::internet
