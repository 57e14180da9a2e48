// Certificate checks of one exchange: which failures the request's flags accept, and which
// failure the handshake met, so the send reports the code that names it.
#pragma once

#include <curl/curl.h>

namespace platform::internet {

struct TlsPolicy {
    bool ignoreDate = false;        // expired or not yet valid
    bool ignoreUnknownCa = false;   // issuer not in the trust store, self-signed included
    bool clientCertChosen = false;  // the caller answered a certificate request (option 47)
};

struct TlsFindings {
    bool unknownCa = false;
    bool otherVerifyFailure = false;
    bool clientCertRequested = false;
};

// What the handshake callbacks read and write; lives as long as the exchange's connection.
struct TlsState {
    TlsPolicy policy;
    TlsFindings findings;
};

// The transfer library's SSL context callback: installs the verify and client-certificate
// callbacks of `state` (a TlsState*) into a fresh OpenSSL context.
CURLcode InstallTlsChecks(CURL* curl, void* sslContext, void* state);

}  // namespace platform::internet
