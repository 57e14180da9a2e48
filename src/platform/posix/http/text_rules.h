// Small text rules shared by headers, URLs and proxies.
#pragma once

#include <string>
#include <string_view>

namespace zemuser::platform::http {

std::string ToLower(std::string_view text);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// Splits "scheme:rest"; false when the text does not start with a valid scheme.
bool SplitScheme(std::string_view url, std::string_view* scheme, std::string_view* rest);
// "scheme://...".
bool IsAbsoluteUrl(std::string_view text);

// Percent-encodes the bytes of `text` for which `unsafe` is true.
std::string PercentEncode(std::string_view text, bool (*unsafe)(unsigned char));

}  // namespace zemuser::platform::http
