// The text of one settings file: the values of one registry key in the syntax of registry
// export files, one value per line, e.g. "EnableHttp1_1"=dword:00000000. Only dword values are
// understood; every other line (headers, comments, other value types, anything malformed) is
// kept exactly as it stands. Pure text in and out, no file access.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/windows_types.h"

namespace platform::posix {

struct SettingsLine {
    std::string text;                      // the line as it stands, without its '\n'
    std::optional<std::string> valueName;  // unescaped name when the line assigns a value
                                           // ("" for the default value @)
    std::optional<DWORD> dword;            // the value when it is a well-formed dword
};

class SettingsDocument {
  public:
    static SettingsDocument Parse(std::string_view text);
    // Every line followed by '\n'; a parsed text that ends in '\n' comes back unchanged.
    std::string Serialize() const;

    // The dword of the value, matched without regard to case as the registry does. When
    // several lines name it, the last one counts (as when such a file is imported); a value
    // that is not a well-formed dword counts as missing.
    std::optional<DWORD> FindDword(std::string_view name) const;

    // Replaces the first line naming the value (keeping the name's spelling there) and drops
    // any later ones, or appends a line. The name must be storable.
    void SetDword(std::string_view name, DWORD value);

    const std::vector<SettingsLine>& lines() const { return lines_; }

  private:
    std::vector<SettingsLine> lines_;
};

// False for names that cannot stand on one line of the file.
bool IsStorableValueName(std::string_view name);

}  // namespace platform::posix
