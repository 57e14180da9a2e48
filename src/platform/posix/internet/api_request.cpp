// Opening a request, its headers, and sending it (in one call or with the body in parts).
#include <memory>
#include <mutex>

#include "platform/posix/internet/api_support.h"
#include "platform/posix/internet/internet_objects.h"
#include "platform/posix/internet/redirects.h"
#include "platform/posix/internet/request_sender.h"
#include "platform/posix/internet/url_scheme.h"

using namespace platform::internet;

namespace {

std::shared_ptr<RequestObject> FindRequest(HINTERNET handle, DWORD* error) {
    return InternetHandles::Instance().FindAs<RequestObject>(handle, HandleKind::Request, error);
}

// A send that got an answer: the last error tells the caller whether the proxy wants
// credentials, without a status query.
BOOL Answered(const RequestObject& request) {
    const ResponseHead* head = request.exchange ? request.exchange->head() : nullptr;
    SetLastError(head != nullptr && head->status == 407 ? 407 : ERROR_SUCCESS);
    return TRUE;
}

std::string AcceptHeader(LPCSTR* acceptTypes) {
    std::string accept;
    for (LPCSTR* type = acceptTypes; type != nullptr && *type != nullptr; ++type) {
        if (**type == '\0') continue;
        if (!accept.empty()) accept += ", ";
        accept += *type;
    }
    return accept;
}

}  // namespace

HINTERNET HttpOpenRequestA(HINTERNET connect, LPCSTR verb, LPCSTR objectName, LPCSTR version,
                           LPCSTR /*referrer*/, LPCSTR* acceptTypes, DWORD flags,
                           DWORD_PTR /*context*/) {
    DWORD error = 0;
    auto connection = InternetHandles::Instance().FindAs<ConnectionObject>(
        connect, HandleKind::Connection, &error);
    if (!connection) return FailHandle(error);
    auto request = std::make_shared<RequestObject>();
    request->connection = connection;
    request->verb = verb == nullptr || *verb == '\0' ? "GET" : verb;
    for (char c : request->verb) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) {
            return FailHandle(ERROR_INVALID_PARAMETER);
        }
    }
    request->target = RequestTarget(TextOrEmpty(objectName));
    request->http11 = version == nullptr || EqualsIgnoreCase(version, "HTTP/1.1");
    request->flags = flags;
    request->securityFlags =
        flags & (SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID);
    const std::string accept = AcceptHeader(acceptTypes);
    if (!accept.empty()) request->headers.Append("Accept", accept);

    InternetHandles& handles = InternetHandles::Instance();
    HINTERNET handle = handles.Add(request);
    try {
        connection->AddChild(handle);
    } catch (...) {
        handles.Close(handle);  // out of memory: the request must not stay open, unowned
        throw;
    }
    if (connection->closed()) {
        handles.Close(handle);
        return FailHandle(ERROR_INVALID_HANDLE);
    }
    return handle;
}

BOOL HttpAddRequestHeadersA(HINTERNET handle, LPCSTR headers, DWORD headersLength,
                            DWORD modifiers) {
    DWORD error = 0;
    auto request = FindRequest(handle, &error);
    if (!request) return Fail(error);
    if (headers == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> lock(request->callMutex);
    error = request->headers.Apply(TextWithLength(headers, headersLength), modifiers);
    return error == 0 ? TRUE : Fail(error);
}

BOOL HttpSendRequestA(HINTERNET handle, LPCSTR headers, DWORD headersLength, LPVOID optional,
                      DWORD optionalLength) {
    DWORD error = 0;
    auto request = FindRequest(handle, &error);
    if (!request) return Fail(error);
    if (optional == nullptr && optionalLength != 0) return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> lock(request->callMutex);
    error = SendWhole(*request, TextWithLength(headers, headersLength),
                      static_cast<const char*>(optional), optionalLength);
    return error == 0 ? Answered(*request) : Fail(error);
}

BOOL HttpSendRequestExA(HINTERNET handle, INTERNET_BUFFERSA* buffersIn,
                        INTERNET_BUFFERSA* /*buffersOut*/, DWORD /*flags*/, DWORD_PTR /*context*/) {
    DWORD error = 0;
    auto request = FindRequest(handle, &error);
    if (!request) return Fail(error);
    std::lock_guard<std::mutex> lock(request->callMutex);
    std::string_view extraHeaders;
    std::uint64_t length = 0;
    if (buffersIn != nullptr) {
        extraHeaders = TextWithLength(buffersIn->lpcszHeader, buffersIn->dwHeadersLength);
        length = buffersIn->dwBufferTotal;
    }
    error = BeginSendInParts(*request, extraHeaders, length);
    if (error == 0 && buffersIn != nullptr && buffersIn->lpvBuffer != nullptr &&
        buffersIn->dwBufferLength != 0) {
        error = WriteBodyPart(*request, static_cast<const char*>(buffersIn->lpvBuffer),
                              buffersIn->dwBufferLength);
    }
    return error == 0 ? TRUE : Fail(error);
}

BOOL InternetWriteFile(HINTERNET handle, LPCVOID buffer, DWORD toWrite, LPDWORD written) {
    DWORD error = 0;
    auto request = FindRequest(handle, &error);
    if (!request) return Fail(error);
    if (written == nullptr || (buffer == nullptr && toWrite != 0)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    *written = 0;
    std::lock_guard<std::mutex> lock(request->callMutex);
    error = WriteBodyPart(*request, static_cast<const char*>(buffer), toWrite);
    if (error != 0) return Fail(error);
    *written = toWrite;
    return TRUE;
}

BOOL HttpEndRequestA(HINTERNET handle, INTERNET_BUFFERSA* /*buffersOut*/, DWORD /*flags*/,
                     DWORD_PTR /*context*/) {
    DWORD error = 0;
    auto request = FindRequest(handle, &error);
    if (!request) return Fail(error);
    std::lock_guard<std::mutex> lock(request->callMutex);
    error = EndSendInParts(*request);
    return error == 0 ? Answered(*request) : Fail(error);
}
