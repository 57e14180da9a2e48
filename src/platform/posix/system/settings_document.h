// The text of one settings file: the values of one key in the syntax of registry export
// files, one value per line, e.g. "EnableHttp1_1"=dword:00000000. Only dword values are
// understood; every other line (headers, comments, other value types, anything malformed) is
// kept exactly as it stands. Pure text in and out, no file access.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zemuser::platform::posix {

class SettingsDocument {
  public:
    static SettingsDocument Parse(std::string_view text);
    // Every line followed by '\n'; a parsed text that ends in '\n' comes back unchanged.
    std::string Serialize() const;

    // The dword of the value, matched without regard to case as the registry does. When
    // several lines name it, the last one counts (as when such a file is imported); a value
    // that is not a well-formed dword counts as missing.
    std::optional<std::uint32_t> FindDword(std::string_view name) const;

    // Replaces the first line naming the value (keeping the name's spelling there) and drops
    // any later ones, or appends a line. The name must be storable.
    void SetDword(std::string_view name, std::uint32_t value);

  private:
    std::vector<std::string> lines_;  // without their '\n'
};

// False for names that cannot stand on one line of the file.
bool IsStorableValueName(std::string_view name);

}  // namespace zemuser::platform::posix
