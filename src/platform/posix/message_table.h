// The message texts behind FormatMessageA, in this project's own words.
#pragma once

#include "platform/posix/windows_types.h"

namespace platform::posix {

// The text for an error code of the internet interface, or null when it has none.
const char* InternetMessageText(DWORD code);

// The text for one of the few kernel error codes that have one here, or null.
const char* SystemMessageText(DWORD code);

}  // namespace platform::posix
