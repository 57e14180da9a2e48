#include "platform/posix/wide_path.h"

#include "platform/posix/kernel32.h"
#include "platform/posix/unicode.h"

namespace platform::posix {

bool WidePathToUtf8(LPCWSTR path, std::string& out) {
    if (path == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    out.clear();
    if (!AppendUtf8(path, out)) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    return true;
}

}  // namespace platform::posix
