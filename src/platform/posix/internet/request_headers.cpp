#include "platform/posix/internet/request_headers.h"

#include <algorithm>
#include <cstring>

#include "platform/posix/internet/url_scheme.h"
#include "platform/posix/wininet.h"

namespace platform::internet {
namespace {

bool IsTokenChar(unsigned char c) {
    return c > 0x20 && c < 0x7F && std::strchr("()<>@,;:\\\"/[]?={}", c) == nullptr;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty()) lines.push_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

}  // namespace

std::optional<HeaderField> ParseHeaderLine(std::string_view line) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const std::string_view name = Trim(line.substr(0, colon));
    const std::string_view value = Trim(line.substr(colon + 1));
    if (name.empty()) return std::nullopt;
    for (char c : name) {
        if (!IsTokenChar(static_cast<unsigned char>(c))) return std::nullopt;
    }
    for (char c : value) {
        const unsigned char u = static_cast<unsigned char>(c);
        if ((u < 0x20 && u != '\t') || u == 0x7F) return std::nullopt;
    }
    return HeaderField{std::string(name), std::string(value)};
}

const HeaderField* RequestHeaders::Find(std::string_view name) const {
    for (const HeaderField& field : fields_) {
        if (EqualsIgnoreCase(field.name, name)) return &field;
    }
    return nullptr;
}

std::vector<HeaderField>::iterator RequestHeaders::FindFirst(std::string_view name) {
    return std::find_if(fields_.begin(), fields_.end(), [&](const HeaderField& field) {
        return EqualsIgnoreCase(field.name, name);
    });
}

void RequestHeaders::RemoveAll(std::string_view name) {
    fields_.erase(
        std::remove_if(fields_.begin(), fields_.end(),
                       [&](const HeaderField& f) { return EqualsIgnoreCase(f.name, name); }),
        fields_.end());
}

void RequestHeaders::Append(std::string name, std::string value) {
    fields_.push_back({std::move(name), std::move(value)});
}

DWORD RequestHeaders::Apply(std::string_view text, DWORD modifiers) {
    std::vector<HeaderField> parsed;
    for (std::string_view line : SplitLines(text)) {
        std::optional<HeaderField> field = ParseHeaderLine(line);
        if (!field) return ERROR_HTTP_INVALID_HEADER;
        parsed.push_back(std::move(*field));
    }
    if (parsed.empty()) return ERROR_INVALID_PARAMETER;
    RequestHeaders changed = *this;
    for (const HeaderField& field : parsed) {
        const DWORD error = changed.ApplyOne(field, modifiers);
        if (error != 0) return error;
    }
    fields_ = std::move(changed.fields_);
    return 0;
}

DWORD RequestHeaders::ApplyOne(const HeaderField& field, DWORD modifiers) {
    const auto existing = FindFirst(field.name);
    const bool found = existing != fields_.end();
    const DWORD coalesce = modifiers & (HTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA |
                                        HTTP_ADDREQ_FLAG_COALESCE_WITH_SEMICOLON);

    if (modifiers & HTTP_ADDREQ_FLAG_REPLACE) {
        // Replace acts on the first header of the name; an empty value removes it. Without ADD
        // it only changes what is there.
        if (found) {
            if (field.value.empty()) {
                fields_.erase(existing);
            } else {
                existing->value = field.value;
            }
            return 0;
        }
        if (!(modifiers & HTTP_ADDREQ_FLAG_ADD)) return ERROR_HTTP_HEADER_NOT_FOUND;
        if (!field.value.empty()) fields_.push_back(field);
        return 0;
    }
    if (modifiers & HTTP_ADDREQ_FLAG_ADD_IF_NEW) {
        if (found) return ERROR_HTTP_HEADER_ALREADY_EXISTS;
        fields_.push_back(field);
        return 0;
    }
    if (coalesce && found) {
        const char* separator =
            (modifiers & HTTP_ADDREQ_FLAG_COALESCE_WITH_SEMICOLON) ? "; " : ", ";
        existing->value += existing->value.empty() ? "" : separator;
        existing->value += field.value;
        return 0;
    }
    // Plain ADD (or no modifier) appends, a second header of the same name included.
    fields_.push_back(field);
    return 0;
}

}  // namespace platform::internet
