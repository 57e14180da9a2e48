#include "platform/windows/http/wininet_request.h"

#include <cstring>
#include <utility>

namespace zemuser::platform::windows {
namespace {

// The proxy and certificate dialogs may change the request's options with what the user chose.
constexpr DWORD kDialogFlags = FLAGS_ERROR_UI_FILTER_FOR_ERRORS |
                               FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                               FLAGS_ERROR_UI_FLAGS_GENERATE_DATA;

// The answer status that WinINet leaves as the last error when a proxy wants credentials.
constexpr DWORD kProxyAuthenticationRequired = 407;

// The option takes four bytes, as on the 32-bit platform.
constexpr DWORD kClientCertificateLength = 4;

// The codes a send leaves that the engine answers; any other code signals nothing.
struct Signalled {
    DWORD code;
    SendSignal signal;
};
constexpr Signalled kSignals[] = {
    {kProxyAuthenticationRequired, SendSignal::ProxyAuthentication},
    {ERROR_INTERNET_FORCE_RETRY, SendSignal::RetryRequested},
    {ERROR_HTTP_REDIRECT_NEEDS_CONFIRMATION, SendSignal::RedirectNeedsConfirmation},
    {ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED, SendSignal::ClientCertificateWanted},
    {ERROR_INTERNET_INVALID_CA, SendSignal::UnknownAuthority},
};

// `code` is the last error read right after the send, with no other call in between: WinINet
// leaves 407 and 12032 there after an answered send too.
SendResult ResultOf(BOOL answered, DWORD code) {
    SendResult result;
    result.answered = answered != FALSE;
    result.code = code;
    for (const Signalled& entry : kSignals) {
        if (entry.code == code) result.signal = entry.signal;
    }
    return result;
}

DWORD ModifiersOf(HeaderMode mode) {
    if (mode == HeaderMode::AddIfNew) return HTTP_ADDREQ_FLAG_ADD_IF_NEW;
    if (mode == HeaderMode::ReplaceOrAdd) return HTTP_ADDREQ_FLAG_REPLACE | HTTP_ADDREQ_FLAG_ADD;
    return HTTP_ADDREQ_FLAG_REPLACE;
}

DWORD InfoLevelOf(AnswerHeader header) {
    switch (header) {
        case AnswerHeader::ContentLength:
            return HTTP_QUERY_CONTENT_LENGTH;
        case AnswerHeader::ContentDisposition:
            return HTTP_QUERY_CONTENT_DISPOSITION;
        case AnswerHeader::Location:
            return HTTP_QUERY_LOCATION;
        default:
            return HTTP_QUERY_STATUS_CODE;
    }
}

}  // namespace

WinInetRequest::WinInetRequest(std::shared_ptr<InternetHandle> handle)
    : handle_(std::move(handle)) {}

WinInetRequest::~WinInetRequest() {
    handle_->Close();
}

ErrorCode WinInetRequest::AddHeader(const char* line, HeaderMode mode) {
    HINTERNET request = Handle();
    if (request == nullptr) return kClosedObject;
    const auto length = static_cast<DWORD>(std::strlen(line));
    if (!HttpAddRequestHeadersA(request, line, length, ModifiersOf(mode))) return LastFailure();
    return kNoError;
}

SendResult WinInetRequest::Send(const char* extraHeaders, const void* body, std::uint32_t length) {
    HINTERNET request = Handle();
    if (request == nullptr) return ResultOf(FALSE, kClosedObject);
    const auto headersLength =
        static_cast<DWORD>(extraHeaders != nullptr ? std::strlen(extraHeaders) : 0);
    // WinINet only reads the body; its signature predates const.
    const BOOL answered =
        HttpSendRequestA(request, extraHeaders, headersLength, const_cast<void*>(body), length);
    const DWORD code = GetLastError();
    return ResultOf(answered, code);
}

SendResult WinInetRequest::StartSend(std::uint32_t bodyLength) {
    HINTERNET request = Handle();
    if (request == nullptr) return ResultOf(FALSE, kClosedObject);
    INTERNET_BUFFERSA buffers{};
    buffers.dwStructSize = sizeof(buffers);
    buffers.dwBufferTotal = bodyLength;
    const BOOL answered = HttpSendRequestExA(request, &buffers, nullptr, HSR_INITIATE, 0);
    const DWORD code = GetLastError();
    return ResultOf(answered, code);
}

ErrorCode WinInetRequest::WriteBody(const void* data, std::uint32_t size) {
    HINTERNET request = Handle();
    if (request == nullptr) return kClosedObject;
    DWORD written = 0;
    if (!InternetWriteFile(request, data, size, &written)) return LastFailure();
    // The announced length no longer matches what went out: the request cannot be completed.
    return written == size ? kNoError : ERROR_INTERNET_CONNECTION_ABORTED;
}

SendResult WinInetRequest::EndSend() {
    HINTERNET request = Handle();
    if (request == nullptr) return ResultOf(FALSE, kClosedObject);
    const BOOL answered = HttpEndRequestA(request, nullptr, HSR_INITIATE, 0);
    const DWORD code = GetLastError();
    return ResultOf(answered, code);
}

void WinInetRequest::AcceptUnknownAuthority() {
    HINTERNET request = Handle();
    if (request == nullptr) return;
    DWORD flags = 0;
    DWORD length = sizeof(flags);
    InternetQueryOptionA(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, &length);
    flags |= SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    InternetSetOptionA(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, sizeof(flags));
}

void WinInetRequest::ChooseClientCertificate() {
    HINTERNET request = Handle();
    if (request == nullptr) return;
    LPVOID certificate = nullptr;
    InternetErrorDlg(GetDesktopWindow(), request, ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED,
                     kDialogFlags, &certificate);
    // The dialog hands back the chosen certificate; the option takes that pointer as its
    // buffer (null when the user chose none).
    InternetSetOptionA(request, INTERNET_OPTION_SECURITY_SELECT_CLIENT_CERT, certificate,
                       kClientCertificateLength);
}

bool WinInetRequest::AskProxyCredentials() {
    HINTERNET request = Handle();
    if (request == nullptr) return false;
    return InternetErrorDlg(GetDesktopWindow(), request, kProxyAuthenticationRequired, kDialogFlags,
                            nullptr) == ERROR_INTERNET_FORCE_RETRY;
}

ErrorCode WinInetRequest::QueryHeader(AnswerHeader header, char* buffer, std::uint32_t* length) {
    HINTERNET request = Handle();
    if (request == nullptr) return kClosedObject;
    DWORD size = *length;
    if (HttpQueryInfoA(request, InfoLevelOf(header), buffer, &size, nullptr)) {
        *length = size;
        return kNoError;
    }
    const ErrorCode failure = LastFailure();
    // WinINet reports the size it needs and leaves the buffer as it was.
    if (failure == ERROR_INSUFFICIENT_BUFFER) *length = size;
    return failure;
}

ErrorCode WinInetRequest::Read(void* buffer, std::uint32_t size, std::uint32_t* count) {
    *count = 0;
    if (pendingReadFailure_ != kNoError) return pendingReadFailure_;
    HINTERNET request = Handle();
    if (request == nullptr) return kClosedObject;
    DWORD read = 0;
    // A synchronous read returns only once `size` bytes, the end of the body or a failure came.
    if (InternetReadFile(request, buffer, size, &read)) {
        *count = read;
        return kNoError;
    }
    const ErrorCode failure = LastFailure();
    if (read == 0) return failure;
    // The bytes that made it are the caller's; the failure follows with the next read.
    *count = read;
    pendingReadFailure_ = failure;
    return kNoError;
}

void WinInetRequest::Close() {
    handle_->Close();
}

}  // namespace zemuser::platform::windows
