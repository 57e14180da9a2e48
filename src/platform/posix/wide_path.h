// Wide (UTF-16) file names turned into the UTF-8 names of the file system.
#pragma once

#include <string>

#include "platform/posix/windows_types.h"

namespace platform::posix {

// False (with the last error set) for a null path, or for one holding a lone surrogate: such
// a name has no faithful UTF-8 form, and replacing the unit could lead two different names to
// one file.
bool WidePathToUtf8(LPCWSTR path, std::string& out);

}  // namespace platform::posix
