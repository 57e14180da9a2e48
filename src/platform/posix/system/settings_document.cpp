#include "platform/posix/system/settings_document.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace zemuser::platform::posix {
namespace {

struct Assignment {
    std::string name;  // unescaped; "" for the default value @
    std::optional<std::uint32_t> dword;
};

// "dword:" and one to eight hexadecimal digits, nothing else.
std::optional<std::uint32_t> ParseDword(std::string_view data) {
    constexpr std::string_view kPrefix = "dword:";
    if (data.substr(0, kPrefix.size()) != kPrefix) return std::nullopt;
    data.remove_prefix(kPrefix.size());
    std::uint32_t value = 0;
    const char* end = data.data() + data.size();
    const auto result = std::from_chars(data.data(), end, value, 16);
    if (data.empty() || data.size() > 8 || result.ec != std::errc() || result.ptr != end)
        return std::nullopt;
    return value;
}

// The value a line assigns, its name quoted with \" and \\ as the only escapes; nothing for
// any other line.
std::optional<Assignment> ParseLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);  // written on Windows
    std::string name;
    std::size_t i = 1;
    if (line.substr(0, 1) == "\"") {
        for (; i < line.size() && line[i] != '"'; ++i) {
            if (line[i] == '\\' && (++i == line.size() || (line[i] != '"' && line[i] != '\\')))
                return std::nullopt;
            name.push_back(line[i]);
        }
        if (i++ == line.size()) return std::nullopt;  // no closing quote
    } else if (line.substr(0, 1) != "@") {
        return std::nullopt;
    }
    if (line.substr(i, 1) != "=") return std::nullopt;
    return Assignment{std::move(name), ParseDword(line.substr(i + 1))};
}

bool SameName(std::string_view left, std::string_view right) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return left.size() == right.size() &&
           std::equal(left.begin(), left.end(), right.begin(),
                      [&](char a, char b) { return lower(a) == lower(b); });
}

std::string FormatDwordLine(std::string_view name, std::uint32_t value) {
    std::string line = name.empty() ? "@" : "\"";
    for (char c : name) {
        if (c == '"' || c == '\\') line.push_back('\\');
        line.push_back(c);
    }
    if (!name.empty()) line.push_back('"');
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(value));
    return line + "=dword:" + digits;
}

}  // namespace

SettingsDocument SettingsDocument::Parse(std::string_view text) {
    SettingsDocument document;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        document.lines_.emplace_back(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return document;
}

std::string SettingsDocument::Serialize() const {
    std::string text;
    for (const std::string& line : lines_) (text += line) += '\n';
    return text;
}

std::optional<std::uint32_t> SettingsDocument::FindDword(std::string_view name) const {
    for (auto line = lines_.rbegin(); line != lines_.rend(); ++line) {
        if (auto assignment = ParseLine(*line); assignment && SameName(assignment->name, name))
            return assignment->dword;
    }
    return std::nullopt;
}

void SettingsDocument::SetDword(std::string_view name, std::uint32_t value) {
    auto names = [&](const std::string& line) {
        const auto assignment = ParseLine(line);
        return assignment && SameName(assignment->name, name);
    };
    const auto first = std::find_if(lines_.begin(), lines_.end(), names);
    if (first == lines_.end()) {
        lines_.push_back(FormatDwordLine(name, value));
        return;
    }
    // The value keeps the spelling it was stored with, as in the registry.
    *first = FormatDwordLine(ParseLine(*first)->name, value);
    lines_.erase(std::remove_if(std::next(first), lines_.end(), names), lines_.end());
}

bool IsStorableValueName(std::string_view name) {
    return name.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

}  // namespace zemuser::platform::posix
