#include "platform/posix/message_table.h"

#include <iterator>

#include "platform/posix/kernel32.h"
#include "platform/posix/wininet.h"

namespace platform::posix {
namespace {

struct Message {
    DWORD code;
    const char* text;
};

constexpr Message kInternetMessages[] = {
    {ERROR_INTERNET_OUT_OF_HANDLES, "No more internet handles can be created at this time."},
    {ERROR_INTERNET_TIMEOUT, "The operation did not finish within the time allowed."},
    {ERROR_INTERNET_EXTENDED_ERROR, "The server sent back further details about the failure."},
    {ERROR_INTERNET_INTERNAL_ERROR, "The internet layer met an unexpected internal failure."},
    {ERROR_INTERNET_INVALID_URL, "The address is not a well-formed URL."},
    {ERROR_INTERNET_UNRECOGNIZED_SCHEME, "The scheme at the start of the URL is not supported."},
    {ERROR_INTERNET_NAME_NOT_RESOLVED, "The host name could not be turned into an address."},
    {ERROR_INTERNET_INVALID_OPTION, "The option asked for is not known."},
    {ERROR_INTERNET_BAD_OPTION_LENGTH, "The length given does not suit the option."},
    {ERROR_INTERNET_OPERATION_CANCELLED,
     "The operation was abandoned because its handle was closed."},
    {ERROR_INTERNET_INCORRECT_HANDLE_TYPE, "The handle is of the wrong kind for this operation."},
    {ERROR_INTERNET_INCORRECT_HANDLE_STATE, "The handle is not ready for this operation."},
    {ERROR_INTERNET_CANNOT_CONNECT, "No connection to the server could be made."},
    {ERROR_INTERNET_CONNECTION_ABORTED, "The connection ended before the operation finished."},
    {ERROR_INTERNET_CONNECTION_RESET, "The server dropped the connection abruptly."},
    {ERROR_INTERNET_FORCE_RETRY, "The request has to be sent once more."},
    {ERROR_INTERNET_SEC_CERT_DATE_INVALID,
     "The server's certificate is outside its period of validity."},
    {ERROR_INTERNET_SEC_CERT_CN_INVALID,
     "The server's certificate was issued for a different host name."},
    {ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED, "The server wants a certificate from this client."},
    {ERROR_INTERNET_INVALID_CA,
     "The server's certificate comes from an authority that is not trusted."},
    {ERROR_HTTP_HEADER_NOT_FOUND, "The answer carries no header of that kind."},
    {ERROR_HTTP_INVALID_SERVER_RESPONSE, "The server's answer could not be understood."},
    {ERROR_HTTP_INVALID_HEADER, "A header given for the request is malformed."},
    {ERROR_HTTP_INVALID_QUERY_REQUEST, "That query cannot be made on this request."},
    {ERROR_HTTP_REDIRECT_FAILED, "The redirection sent by the server could not be followed."},
    {ERROR_HTTP_REDIRECT_NEEDS_CONFIRMATION, "Following the redirection needs the user's consent."},
    {ERROR_INTERNET_SECURE_FAILURE, "The secure channel to the server failed."},
};

constexpr Message kSystemMessages[] = {
    {ERROR_FILE_NOT_FOUND, "No file of that name exists."},
    {ERROR_PATH_NOT_FOUND, "A folder on that path does not exist."},
    {ERROR_TOO_MANY_OPEN_FILES, "Too many files are open."},
    {ERROR_ACCESS_DENIED, "Access was refused."},
    {ERROR_INVALID_HANDLE, "The handle does not name an open object."},
    {ERROR_NOT_ENOUGH_MEMORY, "There is not enough memory for the operation."},
    {ERROR_FILE_EXISTS, "A file of that name exists already."},
    {ERROR_INVALID_PARAMETER, "One of the arguments is not acceptable."},
    {ERROR_DISK_FULL, "The disk has no room left."},
    {ERROR_INSUFFICIENT_BUFFER, "The buffer given is too small."},
    {ERROR_ALREADY_EXISTS, "That object exists already."},
    {ERROR_FILENAME_EXCED_RANGE, "The file name or path is too long."},
};

template <std::size_t N>
const char* Find(const Message (&table)[N], DWORD code) {
    for (const Message& message : table) {
        if (message.code == code) return message.text;
    }
    return nullptr;
}

}  // namespace

const char* InternetMessageText(DWORD code) {
    return Find(kInternetMessages, code);
}

const char* SystemMessageText(DWORD code) {
    return Find(kSystemMessages, code);
}

}  // namespace platform::posix
