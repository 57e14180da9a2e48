// A request's headers and the reading of its answer.
#include <cstring>

#include "platform/posix/http/error_codes.h"
#include "platform/posix/http/text_rules.h"
#include "platform/posix/http/transport_objects.h"

namespace zemuser::platform::http {

Request::Request(std::shared_ptr<Connection> connection, const RequestLine& line, std::string verb)
    : connection_(std::move(connection)),
      life_(connection_->life->Child()),
      verb_(std::move(verb)),
      target_(RequestTarget(line.target == nullptr ? "" : line.target)),
      http11_(line.version == nullptr || EqualsIgnoreCase(line.version, "HTTP/1.1")),
      secure_(line.secure),
      checkName_(line.checkCertificateName),
      checkDate_(line.checkCertificateDate),
      keepConnection_(line.keepConnection) {
    if (line.acceptType != nullptr && *line.acceptType != '\0') {
        headers_.Append("Accept", line.acceptType);
    }
}

ErrorCode Request::AddHeader(const char* line, HeaderMode mode) {
    if (life_->closed()) return kInvalidHandle;
    if (line == nullptr) return kInvalidParameter;
    return headers_.Apply(line, mode);
}

ErrorCode Request::QueryHeader(AnswerHeader header, char* buffer, std::uint32_t* length) {
    if (life_->closed()) return kInvalidHandle;
    if (!exchange_ || !exchange_->answered()) return kHeaderNotFound;
    std::string text;
    switch (header) {
        case AnswerHeader::StatusCode:
            text = std::to_string(exchange_->status());
            break;
        case AnswerHeader::ContentLength:
        case AnswerHeader::ContentDisposition:
        case AnswerHeader::Location: {
            const char* name = header == AnswerHeader::ContentLength        ? "Content-Length"
                               : header == AnswerHeader::ContentDisposition ? "Content-Disposition"
                                                                            : "Location";
            if (!exchange_->Header(name, &text)) return kHeaderNotFound;
            break;
        }
    }
    if (buffer == nullptr || *length <= text.size()) {
        *length = static_cast<std::uint32_t>(text.size() + 1);
        return kInsufficientBuffer;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    *length = static_cast<std::uint32_t>(text.size());
    return kNoError;
}

ErrorCode Request::Read(void* buffer, std::uint32_t size, std::uint32_t* count) {
    *count = 0;
    if (life_->closed()) return kInvalidHandle;
    if (!exchange_ || !exchange_->answered()) return kIncorrectState;
    if (buffer == nullptr && size != 0) return kInvalidParameter;
    std::size_t got = 0;
    const ErrorCode error = exchange_->Read(static_cast<char*>(buffer), size, &got);
    *count = static_cast<std::uint32_t>(got);
    return error;
}

}  // namespace zemuser::platform::http
