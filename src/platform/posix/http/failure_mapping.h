// The one table from transfer failures to the transport's error codes.
#pragma once

#include <curl/curl.h>

#include "platform/http_transport.h"
#include "platform/posix/http/tls_checks.h"

namespace zemuser::platform::http {

// What the exchange knew when its transfer ended in `code`.
struct FailureContext {
    CURLcode code = CURLE_OK;
    bool invalidResponse = false;  // the answer's head was not HTTP, or too large
    bool awaitingHead = false;     // no complete head had arrived
    bool tunnelRefused = false;    // the proxy answered the CONNECT with a failure status
    TlsFindings tls;
    long osErrno = 0;  // the system error behind a failed send or receive
};

ErrorCode MapFailure(const FailureContext& context);

}  // namespace zemuser::platform::http
