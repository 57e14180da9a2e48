#include "platform/posix/http/request_headers.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "platform/posix/http/error_codes.h"
#include "platform/posix/http/text_rules.h"

namespace zemuser::platform::http {
namespace {

bool IsTokenChar(unsigned char c) {
    return c > 0x20 && c < 0x7F && std::strchr("()<>@,;:\\\"/[]?={}", c) == nullptr;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// Null when the name is no token or the value holds control characters, which could split the
// request.
std::optional<HeaderField> ParseLine(std::string_view line) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const std::string_view name = Trim(line.substr(0, colon));
    const std::string_view value = Trim(line.substr(colon + 1));
    if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) {
            return IsTokenChar(static_cast<unsigned char>(c));
        })) {
        return std::nullopt;
    }
    for (char c : value) {
        const unsigned char u = static_cast<unsigned char>(c);
        if ((u < 0x20 && u != '\t') || u == 0x7F) return std::nullopt;
    }
    return HeaderField{std::string(name), std::string(value)};
}

bool IsControlOrSpace(unsigned char c) {
    return c <= 0x20 || c == 0x7F;
}

}  // namespace

const HeaderField* HeaderList::Find(std::string_view name) const {
    for (const HeaderField& field : fields_) {
        if (EqualsIgnoreCase(field.name, name)) return &field;
    }
    return nullptr;
}

void HeaderList::RemoveAll(std::string_view name) {
    fields_.erase(
        std::remove_if(fields_.begin(), fields_.end(),
                       [&](const HeaderField& f) { return EqualsIgnoreCase(f.name, name); }),
        fields_.end());
}

ErrorCode HeaderList::Apply(std::string_view text, HeaderMode mode) {
    std::vector<HeaderField> parsed;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty()) continue;
        std::optional<HeaderField> field = ParseLine(line);
        if (!field) return kInvalidHeader;
        parsed.push_back(std::move(*field));
    }
    if (parsed.empty()) return kInvalidParameter;
    HeaderList changed = *this;
    for (const HeaderField& field : parsed) {
        const ErrorCode error = changed.ApplyOne(field, mode);
        if (error != kNoError) return error;
    }
    fields_ = std::move(changed.fields_);
    return kNoError;
}

ErrorCode HeaderList::ApplyOne(const HeaderField& field, HeaderMode mode) {
    const auto existing = std::find_if(fields_.begin(), fields_.end(), [&](const HeaderField& f) {
        return EqualsIgnoreCase(f.name, field.name);
    });
    const bool found = existing != fields_.end();
    if (mode == HeaderMode::AddIfNew) {
        if (found) return kHeaderExists;
        fields_.push_back(field);
        return kNoError;
    }
    // Replace acts on the first header of the name; an empty value removes it.
    if (found) {
        if (field.value.empty()) {
            fields_.erase(existing);
        } else {
            existing->value = field.value;
        }
        return kNoError;
    }
    if (mode == HeaderMode::Replace) return kHeaderNotFound;
    if (!field.value.empty()) fields_.push_back(field);
    return kNoError;
}

std::vector<std::string> LibraryHeaderLines(const OutgoingHead& head) {
    const HeaderList& headers = *head.headers;
    std::vector<std::string> lines;
    if (headers.Find("User-Agent") == nullptr && !head.agent.empty()) {
        lines.push_back("User-Agent: " + head.agent);
    }
    for (const HeaderField& field : headers.fields()) {
        // The length sent is always the body's own: a stale one would desynchronise the
        // connection.
        if (EqualsIgnoreCase(field.name, "Content-Length")) continue;
        // "Name;" is the library's spelling of an empty value; "Name:" would remove the header.
        lines.push_back(field.value.empty() ? field.name + ";" : field.name + ": " + field.value);
    }
    if (head.hasBody) lines.push_back("Content-Length: " + std::to_string(head.bodyLength));
    if (head.keepConnection && headers.Find("Connection") == nullptr) {
        lines.push_back("Connection: Keep-Alive");
    }
    // The library's own defaults go only when the request asks for them.
    for (const char* name : {"Accept", "Expect", "Content-Type", "Proxy-Connection"}) {
        if (headers.Find(name) == nullptr) lines.push_back(std::string(name) + ":");
    }
    return lines;
}

std::string RequestTarget(std::string_view objectName) {
    const bool rooted = !objectName.empty() &&
                        (objectName[0] == '/' || objectName == "*" || IsAbsoluteUrl(objectName));
    return (rooted ? "" : "/") + PercentEncode(objectName, IsControlOrSpace);
}

}  // namespace zemuser::platform::http
