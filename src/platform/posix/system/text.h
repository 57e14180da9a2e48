// UTF-16 to UTF-8 as both the text conversion and the wide file calls need it.
#pragma once

#include <string>

#include "platform/system.h"

namespace zemuser::platform::posix {

// Appends the UTF-8 form of the terminated `text`, a lone surrogate becoming U+FFFD as on
// Windows; false when that happened, for the callers that must refuse such text (a path with
// a lone surrogate names no file that a UTF-8 file system can hold).
bool AppendUtf8(const WideChar* text, std::string& out);

}  // namespace zemuser::platform::posix
