// Debugger output: the system's own.
#include "platform/system.h"
#include <windows.h>

namespace zemuser::platform {

void DebugOutput(const char* text) {
    if (text != nullptr) OutputDebugStringA(text);
}

}  // namespace zemuser::platform
