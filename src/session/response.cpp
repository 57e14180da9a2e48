// Response queries and body reading on the answered request. Every operation reports its own
// failures and hands back a plain value; nothing is thrown out of here.
#include <cstdlib>
#include <cstring>

#include "diag/trace_log.h"
#include "session/transfer_session.h"
#include "session/wide_text.h"

namespace {

constexpr const char kConnectionFailed[] = "connection failed...";
constexpr const char kResponseFailed[] = "response failed...";
constexpr const char kUnknownException[] = "unknown exception...";
constexpr const char kQueryStatusFailed[] = "query status code failed...";
constexpr const char kQueryLengthFailed[] = "query content-length failed...";
constexpr const char kQueryDispositionFailed[] = "query content-disposition failed...";
constexpr std::int32_t kStatusWhenUnknown = 404;
constexpr DWORD kPieceSize = 1024;

}  // namespace

std::int32_t TransferSession::QueryStatusCode() {
    char text[1024] = {};
    DWORD length = sizeof(text);
    if (HttpQueryInfoA(m_hRequest, HTTP_QUERY_STATUS_CODE, text, &length, nullptr)) {
        // The platform wrote the status as decimal digits.
        return std::atoi(text);  // NOLINT(cert-err34-c)
    }
    ReportOnRequest(kQueryStatusFailed);
    return kStatusWhenUnknown;
}

std::int32_t TransferSession::QueryContentLength() {
    char text[1024] = {};
    DWORD length = sizeof(text);
    if (HttpQueryInfoA(m_hRequest, HTTP_QUERY_CONTENT_LENGTH, text, &length, nullptr)) {
        // A header that is not a number counts as 0, as atol gives it.
        return static_cast<std::int32_t>(std::atol(text));  // NOLINT(cert-err34-c)
    }
    ReportOnRequest(kQueryLengthFailed);
    return 0;
}

std::uint32_t TransferSession::QueryContentDisposition(char* buffer, std::uint32_t length) {
    DWORD size = length;
    if (HttpQueryInfoA(m_hRequest, HTTP_QUERY_CONTENT_DISPOSITION, buffer, &size, nullptr)) {
        return size;
    }
    if (GetLastError() == ERROR_INSUFFICIENT_BUFFER) return size;
    ReportOnRequest(kQueryDispositionFailed);
    return 0;
}

std::uint32_t TransferSession::ReadResponse(void* buffer, std::uint32_t size) {
    const char* failure = nullptr;
    try {
        DWORD count = 0;
        HINTERNET request = m_hRequest;
        if (request == nullptr) throw kConnectionFailed;
        if (!InternetReadFile(request, buffer, size, &count)) throw kResponseFailed;
        return count;
    } catch (const char* text) {
        failure = text;
    } catch (...) {
        failure = kUnknownException;
    }
    HINTERNET request = m_hRequest.exchange(nullptr);
    if (IsOpenHandle(request)) InternetCloseHandle(request);
    ReportOnRequest(failure);
    return 0;
}

std::uint32_t TransferSession::StoreBody(HANDLE file) {
    char piece[kPieceSize];
    // Counted wide so that a body of a multiple of 4 GB never looks empty.
    std::uint64_t total = 0;
    bool complete = true;
    for (std::uint32_t count = ReadResponse(piece, kPieceSize); count != 0;
         count = ReadResponse(piece, kPieceSize)) {
        if (m_cancelled) {
            complete = false;
            break;
        }
        DWORD written = 0;
        // A write that fails or falls short (a full disk) would leave a truncated file that
        // looks like a success: treat it as a failed download.
        if (!WriteFile(file, piece, count, &written, nullptr) || written != count) {
            complete = false;
            break;
        }
        total += written;
    }
    CloseHandle(file);
    if (!complete || m_hRequest.load() == nullptr) return 0;
    return total > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(total);
}

std::uint32_t TransferSession::ResponseToFile(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        TraceWrite(2, "Create file %s error!\n", path);
        return 0;
    }
    std::uint32_t total = StoreBody(file);
    if (total == 0) {
        TraceWrite(2, "ResponseToFile %s error!\n", path);
        DeleteFileA(path);
    }
    return total;
}

std::uint32_t TransferSession::ResponseToFile(const WCHAR* path) {
    std::string tracePath = NarrowFromWide(path);
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        TraceWrite(2, "Create file %s error!\n", tracePath.c_str());
        return 0;
    }
    std::uint32_t total = StoreBody(file);
    if (total == 0) {
        TraceWrite(2, "ResponseToFile %s error!\n", tracePath.c_str());
        DeleteFileW(path);
    }
    return total;
}
