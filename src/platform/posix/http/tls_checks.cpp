#include "platform/posix/http/tls_checks.h"

#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <mutex>

namespace zemuser::platform::http {
namespace {

int StateIndex() {
    static int index = -1;
    static std::once_flag once;
    std::call_once(once,
                   [] { index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr); });
    return index;
}

TlsState* StateOf(SSL* ssl) {
    return static_cast<TlsState*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), StateIndex()));
}

bool IsDateError(int error) {
    return error == X509_V_ERR_CERT_HAS_EXPIRED || error == X509_V_ERR_CERT_NOT_YET_VALID;
}

bool IsUnknownIssuerError(int error) {
    switch (error) {
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_CERT_UNTRUSTED:
            return true;
        default:
            return false;
    }
}

int Verify(int preverified, X509_STORE_CTX* store) {
    if (preverified == 1) return 1;
    SSL* ssl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    TlsState* state = ssl == nullptr ? nullptr : StateOf(ssl);
    if (state == nullptr) return 0;
    const int error = X509_STORE_CTX_get_error(store);
    bool accepted = false;
    if (IsUnknownIssuerError(error)) {
        accepted = state->policy.acceptUnknownIssuer;
        if (!accepted) state->findings.unknownIssuer = true;
    } else if (IsDateError(error)) {
        accepted = state->policy.acceptDate;
        if (!accepted) state->findings.otherVerifyFailure = true;
    } else {
        state->findings.otherVerifyFailure = true;
    }
    // An accepted failure must not stay recorded as the chain's result, or the library would
    // still reject the peer after the handshake.
    if (accepted) X509_STORE_CTX_set_error(store, X509_V_OK);
    return accepted ? 1 : 0;
}

int ClientCertificate(SSL* ssl, X509** /*certificate*/, EVP_PKEY** /*key*/) {
    TlsState* state = StateOf(ssl);
    if (state == nullptr) return 0;
    state->findings.clientCertificateRequested = true;
    // Until the caller has chosen, stop the handshake here so that the send fails with the code
    // that asks for a certificate; afterwards go on without one.
    return state->policy.clientCertificateChosen ? 0 : -1;
}

}  // namespace

CURLcode InstallTlsChecks(CURL* /*curl*/, void* sslContext, void* state) {
    SSL_CTX* context = static_cast<SSL_CTX*>(sslContext);
    SSL_CTX_set_ex_data(context, StateIndex(), state);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, Verify);
    SSL_CTX_set_client_cert_cb(context, ClientCertificate);
    return CURLE_OK;
}

}  // namespace zemuser::platform::http
