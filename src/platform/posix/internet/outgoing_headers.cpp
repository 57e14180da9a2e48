#include "platform/posix/internet/outgoing_headers.h"

#include "platform/posix/internet/url_scheme.h"

namespace platform::internet {

std::vector<std::string> BuildHeaderLines(const OutgoingHeaders& outgoing) {
    const RequestHeaders& headers = *outgoing.headers;
    std::vector<std::string> lines;
    if (headers.Find("User-Agent") == nullptr && !outgoing.agent.empty()) {
        lines.push_back("User-Agent: " + outgoing.agent);
    }
    for (const HeaderField& field : headers.fields()) {
        // The length sent is always the body's own: a stale or wrong one would desynchronise
        // the connection.
        if (EqualsIgnoreCase(field.name, "Content-Length")) continue;
        std::string value = field.value;
        if (EqualsIgnoreCase(field.name, "Cookie") && !outgoing.cookies.empty()) {
            value += (value.empty() ? "" : "; ") + outgoing.cookies;
        }
        // "Name;" is the library's spelling of a header with an empty value; "Name:" would
        // remove the header instead.
        lines.push_back(value.empty() ? field.name + ";" : field.name + ": " + value);
    }
    if (outgoing.hasBody) {
        lines.push_back("Content-Length: " + std::to_string(outgoing.bodyLength));
    }
    if (!outgoing.cookies.empty() && headers.Find("Cookie") == nullptr) {
        lines.push_back("Cookie: " + outgoing.cookies);
    }
    if (outgoing.keepConnection && headers.Find("Connection") == nullptr) {
        lines.push_back("Connection: Keep-Alive");
    }
    for (const char* name : {"Accept", "Expect", "Content-Type", "Proxy-Connection"}) {
        if (headers.Find(name) == nullptr) lines.push_back(std::string(name) + ":");
    }
    return lines;
}

}  // namespace platform::internet
