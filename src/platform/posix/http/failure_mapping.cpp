#include "platform/posix/http/failure_mapping.h"

#include <cerrno>

#include "platform/posix/http/error_codes.h"

namespace zemuser::platform::http {
namespace {

ErrorCode MapTlsFailure(const FailureContext& context) {
    if (context.tls.clientCertificateRequested) return kClientCertificateNeeded;
    if (context.tls.unknownIssuer) return kUnknownAuthority;
    return kSecureFailure;
}

ErrorCode MapConnectionLoss(const FailureContext& context) {
    // A server that demanded a certificate often just resets the connection afterwards.
    if (context.tls.clientCertificateRequested) return kClientCertificateNeeded;
    return context.osErrno == ECONNRESET ? kConnectionReset : kConnectionAborted;
}

}  // namespace

ErrorCode MapFailure(const FailureContext& context) {
    if (context.invalidResponse) return kInvalidServerResponse;
    if (context.tunnelRefused) return kCannotConnect;
    switch (context.code) {
        case CURLE_OK:
            return kNoError;
        case CURLE_UNSUPPORTED_PROTOCOL:  // also an answer without a status line
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_GOT_NOTHING:
        case CURLE_BAD_CONTENT_ENCODING:
        case CURLE_HTTP_RETURNED_ERROR:
            return kInvalidServerResponse;
        case CURLE_URL_MALFORMAT:
            return kInvalidUrl;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return kNameNotResolved;
        case CURLE_COULDNT_CONNECT:
        case CURLE_PROXY:
            return kCannotConnect;
        case CURLE_OPERATION_TIMEDOUT:
            return kTimeout;
        case CURLE_PARTIAL_FILE:
        case CURLE_SEND_FAIL_REWIND:
            return kConnectionAborted;
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
            return MapConnectionLoss(context);
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_SSL_ENGINE_INITFAILED:
        case CURLE_SSL_SHUTDOWN_FAILED:
        case CURLE_USE_SSL_FAILED:
            return MapTlsFailure(context);
        case CURLE_OUT_OF_MEMORY:
            // The library refuses a giant header line this way.
            return context.awaitingHead ? kInvalidServerResponse : kNotEnoughMemory;
        default:
            // A failure during the handshake is a secure-channel failure whatever the library
            // calls it.
            if (context.tls.clientCertificateRequested || context.tls.unknownIssuer) {
                return MapTlsFailure(context);
            }
            return kInternalError;
    }
}

}  // namespace zemuser::platform::http
