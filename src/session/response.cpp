// Response queries and body reading on the answered request. Every operation reports its own
// failures and hands back a plain value.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "diag/trace_log.h"
#include "session/transfer_session.h"

namespace zemuser {
namespace {

constexpr const char kConnectionFailed[] = "connection failed...";
constexpr const char kResponseFailed[] = "response failed...";
constexpr const char kUnknownException[] = "unknown exception...";
constexpr const char kQueryStatusFailed[] = "query status code failed...";
constexpr const char kQueryLengthFailed[] = "query content-length failed...";
constexpr const char kQueryDispositionFailed[] = "query content-disposition failed...";
constexpr std::int32_t kStatusWhenUnknown = 404;
constexpr std::uint32_t kPieceSize = 1024;

// The number at the start of the text, as atol reads it (blanks, a sign, digits; 0 when there
// are none), but held to 32 bits as the runtime the interface was made for holds it: a length
// past 2^31 - 1 must not wrap into a small or negative one.
std::int32_t ContentLengthValue(const char* text) {
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    std::int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > INT32_MAX) return negative ? INT32_MIN : INT32_MAX;
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

}  // namespace

std::int32_t TransferSession::QueryStatusCode() {
    char text[1024] = {};
    std::uint32_t length = sizeof(text);
    auto request = m_hRequest.Load();
    platform::ErrorCode code =
        request ? request->QueryHeader(platform::AnswerHeader::StatusCode, text, &length)
                : platform::kInvalidHandle;
    // The platform writes the status as decimal digits.
    if (code == platform::kNoError) return std::atoi(text);  // NOLINT(cert-err34-c)
    ReportOnRequest({kQueryStatusFailed, code});
    return kStatusWhenUnknown;
}

std::int32_t TransferSession::QueryContentLength() {
    char text[1024] = {};
    std::uint32_t length = sizeof(text);
    auto request = m_hRequest.Load();
    platform::ErrorCode code =
        request ? request->QueryHeader(platform::AnswerHeader::ContentLength, text, &length)
                : platform::kInvalidHandle;
    if (code == platform::kNoError) return ContentLengthValue(text);
    ReportOnRequest({kQueryLengthFailed, code});
    return 0;
}

std::uint32_t TransferSession::QueryContentDisposition(char* buffer, std::uint32_t length) {
    std::uint32_t size = length;
    auto request = m_hRequest.Load();
    platform::ErrorCode code =
        request ? request->QueryHeader(platform::AnswerHeader::ContentDisposition, buffer, &size)
                : platform::kInvalidHandle;
    if (code == platform::kNoError || code == platform::kInsufficientBuffer) return size;
    ReportOnRequest({kQueryDispositionFailed, code});
    return 0;
}

std::uint32_t TransferSession::ReadResponse(void* buffer, std::uint32_t size) {
    Failure failure{kUnknownException};
    try {
        auto request = m_hRequest.Load();
        if (!request) {
            failure = Failure{kConnectionFailed};
        } else {
            std::uint32_t count = 0;
            platform::ErrorCode code = request->Read(buffer, size, &count);
            if (code == platform::kNoError) return count;
            failure = Failure{kResponseFailed, code};
        }
    } catch (...) {
    }
    m_hRequest.CloseAndClear();
    ReportOnRequest(failure);
    return 0;
}

std::uint32_t TransferSession::StoreBody(platform::ReplacementFile& file) {
    char piece[kPieceSize];
    // Counted wide so that a body of a multiple of 4 GB never looks empty.
    std::uint64_t total = 0;
    for (std::uint32_t count = ReadResponse(piece, kPieceSize); count != 0;
         count = ReadResponse(piece, kPieceSize)) {
        // A write that fails or falls short (a full disk) would leave a truncated file that
        // looks like a success: treat it as a failed download.
        if (m_cancelled || !file.Write(piece, count)) return 0;
        total += count;
    }
    if (!m_hRequest.IsOpen()) return 0;  // the body broke off
    return total > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(total);
}

// The body goes into a new file beside the target, which takes the target's name only once it
// is whole: a failed or cancelled download leaves the target as it was.
std::uint32_t TransferSession::StoreResponse(platform::ReplacementFile file,
                                             const char* tracePath) {
    if (!file.IsOpen()) {
        TraceWrite(2, "Create file %s error!\n", tracePath);
        return 0;
    }
    const std::uint32_t total = StoreBody(file);
    if (total == 0 || !file.Commit()) {
        TraceWrite(2, "ResponseToFile %s error!\n", tracePath);
        return 0;
    }
    return total;
}

std::uint32_t TransferSession::ResponseToFile(const char* path) {
    return StoreResponse(platform::ReplacementFile::Create(path), path != nullptr ? path : "");
}

std::uint32_t TransferSession::ResponseToFile(const platform::WideChar* path) {
    const std::string tracePath = platform::Utf8FromWide(path);
    return StoreResponse(platform::ReplacementFile::Create(path), tracePath.c_str());
}

}  // namespace zemuser
