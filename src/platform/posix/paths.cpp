// File name rules of POSIX systems.
#include "platform/platform.h"

namespace platform {

const char* PathSeparator() {
    return "/";
}

const WCHAR* WidePathSeparator() {
    return u"/";
}

bool IsDroppedFileNameCharacter(char) {
    return false;
}

bool IsUnusableFileName(const std::string& name) {
    // A separator or NUL would leave the folder or cut the name short; "." and ".." name
    // folders, not a file inside the folder.
    return name.find('/') != std::string::npos || name.find('\0') != std::string::npos ||
           name == "." || name == "..";
}

}  // namespace platform
