#include "platform/posix/settings_location.h"

#include <cstdlib>

namespace platform::posix {
namespace {

const char* NonEmptyEnv(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

}  // namespace

std::optional<std::string> SettingsStoreFolder() {
    if (const char* folder = NonEmptyEnv("ZEMUSER_SETTINGS_DIR")) return std::string(folder);
    // A relative XDG_CONFIG_HOME is to be ignored, by the rules of that variable.
    if (const char* config = NonEmptyEnv("XDG_CONFIG_HOME"); config != nullptr && *config == '/')
        return std::string(config) + "/zemuser";
    if (const char* home = NonEmptyEnv("HOME")) return std::string(home) + "/.config/zemuser";
    return std::nullopt;
}

bool AppendSubKey(std::string& keyPath, std::string_view subKey) {
    if (subKey.empty()) return true;  // the key itself
    std::string path = keyPath;
    while (true) {
        const std::size_t end = subKey.find('\\');
        const std::string_view segment = subKey.substr(0, end);
        if (segment.empty() || segment == "." || segment == ".." ||
            segment.find('/') != std::string_view::npos)
            return false;
        path.push_back('/');
        path.append(segment);
        if (end == std::string_view::npos) break;
        subKey.remove_prefix(end + 1);
    }
    keyPath = std::move(path);
    return true;
}

}  // namespace platform::posix
