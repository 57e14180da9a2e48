#include "platform/posix/settings_file.h"

#include <algorithm>
#include <cstdio>

namespace platform::posix {
namespace {

constexpr std::string_view kDwordPrefix = "dword:";

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view left, std::string_view right) {
    return left.size() == right.size() &&
           std::equal(left.begin(), left.end(), right.begin(),
                      [](char a, char b) { return LowerAscii(a) == LowerAscii(b); });
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// One to eight hexadecimal digits and nothing else.
std::optional<DWORD> ParseDword(std::string_view data) {
    if (data.substr(0, kDwordPrefix.size()) != kDwordPrefix) return std::nullopt;
    data.remove_prefix(kDwordPrefix.size());
    if (data.empty() || data.size() > 8) return std::nullopt;
    DWORD value = 0;
    for (char c : data) {
        const int digit = HexDigit(c);
        if (digit < 0) return std::nullopt;
        value = (value << 4) | static_cast<DWORD>(digit);
    }
    return value;
}

// Reads the quoted name at the start of `line`, with \" and \\ as its only escapes, and
// leaves `line` at what follows the closing quote.
std::optional<std::string> ParseQuotedName(std::string_view& line) {
    if (line.empty() || line.front() != '"') return std::nullopt;
    std::string name;
    for (std::size_t i = 1; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') {
            line.remove_prefix(i + 1);
            return name;
        }
        if (c == '\\') {
            if (i + 1 == line.size() || (line[i + 1] != '"' && line[i + 1] != '\\'))
                return std::nullopt;
            ++i;
        }
        name.push_back(line[i]);
    }
    return std::nullopt;  // no closing quote
}

SettingsLine ParseLine(std::string_view text) {
    SettingsLine line{std::string(text), std::nullopt, std::nullopt};
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);  // written on Windows
    std::optional<std::string> name;
    if (text.substr(0, 1) == "@") {
        name = std::string();
        text.remove_prefix(1);
    } else {
        name = ParseQuotedName(text);
    }
    if (!name || text.substr(0, 1) != "=") return line;
    text.remove_prefix(1);
    line.valueName = std::move(name);
    line.dword = ParseDword(text);
    return line;
}

std::string FormatDwordLine(std::string_view name, DWORD value) {
    std::string line;
    if (name.empty()) {
        line = "@";
    } else {
        line = "\"";
        for (char c : name) {
            if (c == '"' || c == '\\') line.push_back('\\');
            line.push_back(c);
        }
        line.push_back('"');
    }
    char digits[9];
    std::snprintf(digits, sizeof(digits), "%08x", static_cast<unsigned>(value));
    return line + "=" + std::string(kDwordPrefix) + digits;
}

bool LineNames(const SettingsLine& line, std::string_view name) {
    return line.valueName && SameName(*line.valueName, name);
}

}  // namespace

SettingsDocument SettingsDocument::Parse(std::string_view text) {
    SettingsDocument document;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        document.lines_.push_back(ParseLine(text.substr(0, end)));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return document;
}

std::string SettingsDocument::Serialize() const {
    std::string text;
    for (const SettingsLine& line : lines_) {
        text += line.text;
        text.push_back('\n');
    }
    return text;
}

std::optional<DWORD> SettingsDocument::FindDword(std::string_view name) const {
    auto last = std::find_if(lines_.rbegin(), lines_.rend(),
                             [&](const SettingsLine& line) { return LineNames(line, name); });
    if (last == lines_.rend()) return std::nullopt;
    return last->dword;
}

void SettingsDocument::SetDword(std::string_view name, DWORD value) {
    auto first = std::find_if(lines_.begin(), lines_.end(),
                              [&](const SettingsLine& line) { return LineNames(line, name); });
    if (first == lines_.end()) {
        lines_.push_back({FormatDwordLine(name, value), std::string(name), value});
        return;
    }
    // The value keeps the spelling it was stored with, as in the registry.
    std::string storedName = *first->valueName;
    first->text = FormatDwordLine(storedName, value);
    first->valueName = std::move(storedName);
    first->dword = value;
    lines_.erase(std::remove_if(std::next(first), lines_.end(),
                                [&](const SettingsLine& line) { return LineNames(line, name); }),
                 lines_.end());
}

bool IsStorableValueName(std::string_view name) {
    return name.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

}  // namespace platform::posix
