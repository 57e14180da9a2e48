// Certificate checks of one exchange: which failures the request accepts, and which failure
// the handshake met, so that the send reports the code that names it.
#pragma once

#include <curl/curl.h>

namespace zemuser::platform::http {

struct TlsPolicy {
    bool acceptDate = false;           // expired or not yet valid
    bool acceptUnknownIssuer = false;  // issuer not in the trust store, self-signed included
    bool clientCertificateChosen = false;
};

struct TlsFindings {
    bool unknownIssuer = false;
    bool otherVerifyFailure = false;
    bool clientCertificateRequested = false;
};

// What the handshake callbacks read and write; lives as long as the exchange's connection.
struct TlsState {
    TlsPolicy policy;
    TlsFindings findings;
};

// The transfer library's SSL context callback: installs the verify and client-certificate
// callbacks of `state` (a TlsState*) into a fresh OpenSSL context.
CURLcode InstallTlsChecks(CURL* curl, void* sslContext, void* state);

}  // namespace zemuser::platform::http
