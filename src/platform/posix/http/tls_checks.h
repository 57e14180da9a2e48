// Certificate checks of one exchange: which failures the request accepts, and which failure
// the handshake met, so that the send reports the code that names it.
#pragma once

#include <curl/curl.h>

namespace zemuser::platform::http {

// What the handshake callbacks read and write; lives as long as the exchange's connection.
struct TlsChecks {
    bool checkName = true;             // refuse a certificate issued for another host name
    bool acceptDate = false;           // expired or not yet valid
    bool acceptUnknownIssuer = false;  // issuer not in the trust store, self-signed included
    bool clientCertificateChosen = false;
    // Found by the handshake:
    bool unknownIssuerMet = false;
    bool clientCertificateRequested = false;
};

// The transfer library's SSL context callback: installs the verify and client-certificate
// callbacks of `checks` (a TlsChecks*) into a fresh OpenSSL context.
CURLcode InstallTlsChecks(CURL* curl, void* sslContext, void* checks);

}  // namespace zemuser::platform::http
