#include "platform/posix/internet/error_mapping.h"

#include <cerrno>

#include "platform/posix/wininet.h"

namespace platform::internet {
namespace {

DWORD MapTlsFailure(const FailureContext& context) {
    if (context.tls.clientCertRequested) return ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED;
    if (context.tls.unknownCa) return ERROR_INTERNET_INVALID_CA;
    return ERROR_INTERNET_SECURE_FAILURE;
}

DWORD MapConnectionLoss(const FailureContext& context) {
    // A server that demanded a certificate often just resets the connection afterwards.
    if (context.tls.clientCertRequested) return ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED;
    return context.osErrno == ECONNRESET ? ERROR_INTERNET_CONNECTION_RESET
                                         : ERROR_INTERNET_CONNECTION_ABORTED;
}

}  // namespace

DWORD MapFailure(const FailureContext& context) {
    if (context.cancelled) return ERROR_INTERNET_OPERATION_CANCELLED;
    if (context.idleTimeout) return ERROR_INTERNET_TIMEOUT;
    if (context.invalidResponse) return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    if (context.tunnelRefused) return ERROR_INTERNET_CANNOT_CONNECT;
    switch (context.code) {
        case CURLE_OK:
            return 0;
        case CURLE_UNSUPPORTED_PROTOCOL:  // also a response without a status line
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_GOT_NOTHING:
        case CURLE_BAD_CONTENT_ENCODING:
        case CURLE_HTTP_RETURNED_ERROR:
            return ERROR_HTTP_INVALID_SERVER_RESPONSE;
        case CURLE_URL_MALFORMAT:
            return ERROR_INTERNET_INVALID_URL;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return ERROR_INTERNET_NAME_NOT_RESOLVED;
        case CURLE_COULDNT_CONNECT:
        case CURLE_PROXY:
            return ERROR_INTERNET_CANNOT_CONNECT;
        case CURLE_OPERATION_TIMEDOUT:
            return ERROR_INTERNET_TIMEOUT;
        case CURLE_PARTIAL_FILE:
        case CURLE_SEND_FAIL_REWIND:
            return ERROR_INTERNET_CONNECTION_ABORTED;
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
            return context.awaitingHead ? ERROR_HTTP_INVALID_SERVER_RESPONSE
                                        : ERROR_NOT_ENOUGH_MEMORY;
        default:
            // A failure during the handshake of a secure exchange is a secure-channel failure
            // whatever the library calls it.
            if (context.tls.clientCertRequested || context.tls.unknownCa) {
                return MapTlsFailure(context);
            }
            return ERROR_INTERNET_INTERNAL_ERROR;
    }
}

}  // namespace platform::internet
