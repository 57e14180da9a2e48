#include "platform/posix/http/transfer_trace.h"

#include <cstdlib>

#include "platform/posix/http/text_rules.h"

namespace zemuser::platform::http {
namespace {

// Header lines whose values are secrets.
bool IsCredentialLine(std::string_view line) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    const std::string_view name = line.substr(0, colon);
    return EqualsIgnoreCase(name, "Authorization") || EqualsIgnoreCase(name, "Proxy-Authorization");
}

}  // namespace

bool TransferTraceWanted() {
    const char* value = std::getenv("ZEMUSER_NET_TRACE");
    return value != nullptr && *value != '\0' && *value != '0';
}

std::string TransferTraceText(curl_infotype type, std::string_view text) {
    const char* prefix = nullptr;
    switch (type) {
        case CURLINFO_TEXT:
            prefix = "* ";
            break;
        case CURLINFO_HEADER_IN:
            prefix = "< ";
            break;
        case CURLINFO_HEADER_OUT:
            prefix = "> ";
            break;
        default:
            return std::string();
    }
    std::string out = "zemuser net: ";
    out += prefix;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (IsCredentialLine(line)) {
            out.append(line.substr(0, line.find(':') + 1)).append(" (not shown)");
        } else {
            out.append(line);
        }
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
        if (!text.empty() && text != "\r\n") out += "\n";
    }
    return out;
}

}  // namespace zemuser::platform::http
