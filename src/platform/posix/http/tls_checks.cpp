// Certificate checks of one exchange: which failures the request accepts, and which failure
// the handshake met, so that the send reports the code that names it.
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <iterator>

#include "platform/posix/http/exchange.h"

namespace zemuser::platform::http {
namespace {

constexpr int kUnknownIssuerErrors[] = {
    X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT,     X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN,
    X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT,       X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY,
    X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE, X509_V_ERR_CERT_UNTRUSTED,
};

// The slot of an OpenSSL context that holds its exchange's checks.
int ChecksIndex() {
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

TlsChecks* ChecksOf(SSL* ssl) {
    if (ssl == nullptr) return nullptr;
    return static_cast<TlsChecks*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), ChecksIndex()));
}

int Verify(int preverified, X509_STORE_CTX* store) {
    if (preverified == 1) return 1;
    TlsChecks* checks = ChecksOf(
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx())));
    if (checks == nullptr) return 0;
    const int error = X509_STORE_CTX_get_error(store);
    const bool unknownIssuer =
        std::find(std::begin(kUnknownIssuerErrors), std::end(kUnknownIssuerErrors), error) !=
        std::end(kUnknownIssuerErrors);
    const bool dateOnly =
        error == X509_V_ERR_CERT_HAS_EXPIRED || error == X509_V_ERR_CERT_NOT_YET_VALID;
    const bool accepted =
        unknownIssuer ? checks->acceptUnknownIssuer : dateOnly && checks->acceptDate;
    if (unknownIssuer && !accepted) checks->unknownIssuerMet = true;
    // An accepted failure must not stay recorded as the chain's result, or the library would
    // still reject the peer after the handshake.
    if (accepted) X509_STORE_CTX_set_error(store, X509_V_OK);
    return accepted ? 1 : 0;
}

int ClientCertificate(SSL* ssl, X509** /*certificate*/, EVP_PKEY** /*key*/) {
    TlsChecks* checks = ChecksOf(ssl);
    if (checks == nullptr) return 0;
    checks->clientCertificateRequested = true;
    // Until the caller has chosen, stop the handshake here so that the send fails with the code
    // that asks for a certificate; afterwards go on without one.
    return checks->clientCertificateChosen ? 0 : -1;
}

}  // namespace

CURLcode InstallTlsChecks(CURL* /*curl*/, void* sslContext, void* checks) {
    SSL_CTX* context = static_cast<SSL_CTX*>(sslContext);
    SSL_CTX_set_ex_data(context, ChecksIndex(), checks);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, Verify);
    SSL_CTX_set_client_cert_cb(context, ClientCertificate);
    return CURLE_OK;
}

}  // namespace zemuser::platform::http
