// Conversions between UTF-16 and UTF-8 that never fail: every ill-formed sequence becomes
// U+FFFD. The result tells whether that happened, for callers that must refuse such text.
#pragma once

#include <string>
#include <string_view>

namespace platform::posix {

// Appends the UTF-8 form of `wide`; false when a lone surrogate was replaced.
bool AppendUtf8(std::u16string_view wide, std::string& out);

// Appends the UTF-16 form of `narrow`; false when an ill-formed sequence was replaced (one
// U+FFFD for each maximal ill-formed subpart, as Unicode recommends).
bool AppendUtf16(std::string_view narrow, std::u16string& out);

}  // namespace platform::posix
