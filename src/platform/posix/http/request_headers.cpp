// A request's own header lines and the rules by which added lines meet them.
#include <algorithm>
#include <cstring>

#include "platform/posix/http/text_rules.h"
#include "platform/posix/http/transport_objects.h"

namespace zemuser::platform::http {
namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool IsTokenChar(char c) {
    return c > 0x20 && c < 0x7F && std::strchr("()<>@,;:\\\"/[]?={}", c) == nullptr;
}

// Control characters in a value could split the request.
bool IsControl(char c) {
    return (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F;
}

// Matches the fields of `name`, in any case.
auto Named(std::string_view name) {
    return [name](const auto& field) { return EqualsIgnoreCase(field.name, name); };
}

}  // namespace

bool HeaderList::Has(std::string_view name) const {
    return std::any_of(fields_.begin(), fields_.end(), Named(name));
}

void HeaderList::RemoveAll(std::string_view name) {
    fields_.erase(std::remove_if(fields_.begin(), fields_.end(), Named(name)), fields_.end());
}

ErrorCode HeaderList::Apply(std::string_view text, HeaderMode mode) {
    HeaderList changed = *this;
    bool any = false;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        const std::size_t colon = line.find(':');
        const Field field{std::string(Trim(line.substr(0, colon))),
                          std::string(Trim(line.substr(std::min(colon + 1, line.size()))))};
        if (colon == std::string_view::npos || field.name.empty() ||
            !std::all_of(field.name.begin(), field.name.end(), IsTokenChar) ||
            std::any_of(field.value.begin(), field.value.end(), IsControl)) {
            return kInvalidHeader;
        }
        if (const ErrorCode error = changed.ApplyOne(field, mode)) return error;
        any = true;
    }
    if (!any) return kInvalidParameter;
    fields_ = std::move(changed.fields_);
    return kNoError;
}

ErrorCode HeaderList::ApplyOne(const Field& field, HeaderMode mode) {
    const auto existing = std::find_if(fields_.begin(), fields_.end(), Named(field.name));
    if (existing == fields_.end()) {
        if (mode == HeaderMode::Replace) return kHeaderNotFound;
        if (mode == HeaderMode::AddIfNew || !field.value.empty()) fields_.push_back(field);
    } else if (mode == HeaderMode::AddIfNew) {
        return kHeaderExists;
    } else if (field.value.empty()) {  // an empty value removes the first header of the name
        fields_.erase(existing);
    } else {
        existing->value = field.value;
    }
    return kNoError;
}

std::vector<std::string> HeaderList::LibraryLines(const std::string& agent, bool hasBody,
                                                  std::uint64_t bodyLength, bool keepConnection,
                                                  bool viaPlainProxy) const {
    std::vector<std::string> lines;
    if (!Has("User-Agent") && !agent.empty()) lines.push_back("User-Agent: " + agent);
    for (const Field& field : fields_) {
        // The length sent is always the body's own: a stale one would desynchronise the
        // connection.
        if (EqualsIgnoreCase(field.name, "Content-Length")) continue;
        // "Name;" is the library's spelling of an empty value; "Name:" would remove the header.
        lines.push_back(field.value.empty() ? field.name + ";" : field.name + ": " + field.value);
    }
    if (hasBody) lines.push_back("Content-Length: " + std::to_string(bodyLength));
    if (keepConnection && !Has("Connection")) lines.push_back("Connection: Keep-Alive");
    // The library's own defaults go only when the request asks for them. It adds Expect and
    // Content-Type only to a request with a body, and Proxy-Connection only to one that names
    // the whole URL to a proxy; every line more costs it a pass over the list for each header
    // it looks for.
    const auto keepOut = [&](const char* name) {
        if (!Has(name)) lines.push_back(std::string(name) + ":");
    };
    keepOut("Accept");
    if (hasBody) {
        keepOut("Expect");
        keepOut("Content-Type");
    }
    if (viaPlainProxy) keepOut("Proxy-Connection");
    return lines;
}

}  // namespace zemuser::platform::http
