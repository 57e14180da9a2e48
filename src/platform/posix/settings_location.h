// Where the per-user settings store keeps its files: one folder per key below the store's
// folder, one file per key, e.g. HKEY_CURRENT_USER\A\B as <store>/HKEY_CURRENT_USER/A/B.reg.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform::posix {

// $ZEMUSER_SETTINGS_DIR, else $XDG_CONFIG_HOME/zemuser, else $HOME/.config/zemuser; nothing
// when none of them is set.
std::optional<std::string> SettingsStoreFolder();

// Appends the backslash-separated `subKey` to the slash-separated `keyPath`. False for a sub
// key that could reach outside its parent or name one key in two ways: an empty segment, "."
// or "..", or a "/" inside a segment.
bool AppendSubKey(std::string& keyPath, std::string_view subKey);

}  // namespace platform::posix
