// The texts of the internet error codes, for failure reports.
#include <utility>

#include "platform/http_transport.h"

namespace zemuser::platform {
namespace {

constexpr std::pair<ErrorCode, const char*> kMessages[] = {
    {12001, "No more internet handles can be created at this time."},
    {12002, "The operation did not finish within the time allowed."},
    {12003, "The server sent back further details about the failure."},
    {12004, "The internet layer met an unexpected internal failure."},
    {12005, "The address is not a well-formed URL."},
    {12006, "The scheme at the start of the URL is not supported."},
    {12007, "The host name could not be turned into an address."},
    {12009, "The option asked for is not known."},
    {12010, "The length given does not suit the option."},
    {12017, "The operation was abandoned because its handle was closed."},
    {12018, "The handle is of the wrong kind for this operation."},
    {12019, "The handle is not ready for this operation."},
    {12029, "No connection to the server could be made."},
    {12030, "The connection ended before the operation finished."},
    {12031, "The server dropped the connection abruptly."},
    {12032, "The request has to be sent once more."},
    {12037, "The server's certificate is outside its period of validity."},
    {12038, "The server's certificate was issued for a different host name."},
    {12044, "The server wants a certificate from this client."},
    {12045, "The server's certificate comes from an authority that is not trusted."},
    {12150, "The answer carries no header of that kind."},
    {12152, "The server's answer could not be understood."},
    {12153, "A header given for the request is malformed."},
    {12154, "That query cannot be made on this request."},
    {12156, "The redirection sent by the server could not be followed."},
    {12168, "Following the redirection needs the user's consent."},
    {12175, "The secure channel to the server failed."},
};

}  // namespace

std::string InternetErrorText(ErrorCode code) {
    for (const auto& [number, text] : kMessages) {
        // With the line end of a message table's texts, as the reports have always shown them.
        if (number == code) return std::string(text) + "\r\n";
    }
    return std::string();
}

}  // namespace zemuser::platform
