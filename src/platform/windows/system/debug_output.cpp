// Debugger output: the system's own.
#include "platform/system.h"
#include "platform/windows/system/win32.h"

namespace zemuser::platform {

void DebugOutput(const char* text) {
    if (text != nullptr) OutputDebugStringA(text);
}

}  // namespace zemuser::platform
