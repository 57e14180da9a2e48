#include "platform/posix/internet/response_head.h"

#include <cctype>

#include "platform/posix/internet/url_scheme.h"

namespace platform::internet {
namespace {

// A head larger than this is taken as a broken or hostile server rather than buffered.
constexpr std::size_t kMaxHeadBytes = std::size_t{64} * 1024;

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.remove_suffix(1);
    }
    return text;
}

// "HTTP/1.1 200 OK": the three-digit code and the reason text.
bool ParseStatusLine(std::string_view line, ResponseHead* head) {
    if (line.substr(0, 5) != "HTTP/") return false;
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos || line.size() < space + 4) return false;
    int status = 0;
    for (std::size_t i = space + 1; i < space + 4; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(line[i]))) return false;
        status = status * 10 + (line[i] - '0');
    }
    if (line.size() > space + 4 && line[space + 4] != ' ') return false;
    head->status = status;
    head->statusText = std::string(Trim(line.substr(std::min(line.size(), space + 5))));
    return true;
}

}  // namespace

const std::string* ResponseHead::Find(std::string_view name, std::size_t index) const {
    for (const auto& header : headers) {
        if (EqualsIgnoreCase(header.first, name) && index-- == 0) return &header.second;
    }
    return nullptr;
}

HeadReader::Step HeadReader::Feed(std::string_view line) {
    bytes_ += line.size();
    if (bytes_ > kMaxHeadBytes) return Step::Invalid;
    const std::string_view content = Trim(line);
    if (!haveStatus_) {
        if (!ParseStatusLine(content, &head_)) return Step::Invalid;
        haveStatus_ = true;
        head_.raw.append(content).append("\r\n");
        return Step::More;
    }
    if (content.empty() && (line.empty() || line.front() != ' ')) {
        head_.raw += "\r\n";
        return Step::Complete;
    }
    if ((line.front() == ' ' || line.front() == '\t') && !head_.headers.empty()) {
        // A folded line continues the header before it.
        head_.headers.back().second.append(" ").append(content);
        head_.raw.append(line.substr(0, line.find_last_not_of("\r\n") + 1)).append("\r\n");
        return Step::More;
    }
    const std::size_t colon = content.find(':');
    if (colon == std::string_view::npos || colon == 0) return Step::More;  // tolerated, unused
    head_.headers.emplace_back(std::string(Trim(content.substr(0, colon))),
                               std::string(Trim(content.substr(colon + 1))));
    head_.raw.append(content).append("\r\n");
    return Step::More;
}

ResponseHead HeadReader::Take() {
    ResponseHead done = std::move(head_);
    head_ = ResponseHead{};
    haveStatus_ = false;
    bytes_ = 0;
    return done;
}

}  // namespace platform::internet
