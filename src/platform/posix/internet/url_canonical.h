// The canonical form of a URL as the browser-mode canonicaliser gives it: unsafe characters
// before the query percent-encoded, "." and ".." segments resolved, the query left alone.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/posix/windows_types.h"

namespace platform::internet {

// nullopt when the text is not a URL (no scheme).
std::optional<std::string> CanonicalizeUrl(std::string_view url, DWORD flags);

// Resolves "." and ".." segments of an absolute path; ".." never climbs above the root.
std::string RemoveDotSegments(std::string_view path);

// Percent-encodes spaces, control characters, bytes above 0x7E and the characters that may not
// appear unescaped in a URL.
std::string EncodeUnsafe(std::string_view text);

}  // namespace platform::internet
