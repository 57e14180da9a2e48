// Response queries and body reading on the answered request. Every operation reports its own
// failures and hands back a plain value.
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
    // A header that is not a number counts as 0, as atol gives it.
    if (code == platform::kNoError) {
        return static_cast<std::int32_t>(std::atol(text));  // NOLINT(cert-err34-c)
    }
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

std::uint32_t TransferSession::StoreBody(platform::OutputFile file) {
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
        // A write that fails or falls short (a full disk) would leave a truncated file that
        // looks like a success: treat it as a failed download.
        if (!file.Write(piece, count)) {
            complete = false;
            break;
        }
        total += count;
    }
    file.Close();
    if (!complete || !m_hRequest.IsOpen()) return 0;
    return total > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(total);
}

std::uint32_t TransferSession::ResponseToFile(const char* path) {
    platform::OutputFile file = platform::OutputFile::CreateAlways(path);
    if (!file.IsOpen()) {
        TraceWrite(2, "Create file %s error!\n", path);
        return 0;
    }
    std::uint32_t total = StoreBody(std::move(file));
    if (total == 0) {
        TraceWrite(2, "ResponseToFile %s error!\n", path);
        platform::RemoveFile(path);
    }
    return total;
}

std::uint32_t TransferSession::ResponseToFile(const platform::WideChar* path) {
    std::string tracePath = platform::Utf8FromWide(path);
    platform::OutputFile file = platform::OutputFile::CreateAlways(path);
    if (!file.IsOpen()) {
        TraceWrite(2, "Create file %s error!\n", tracePath.c_str());
        return 0;
    }
    std::uint32_t total = StoreBody(std::move(file));
    if (total == 0) {
        TraceWrite(2, "ResponseToFile %s error!\n", tracePath.c_str());
        platform::RemoveFile(path);
    }
    return total;
}

}  // namespace zemuser
