// Debugger output: the system's own.
#include <windows.h>

#include "platform/system.h"

namespace zemuser::platform {

void DebugOutput(const char* text) {
    if (text != nullptr) OutputDebugStringA(text);
}

}  // namespace zemuser::platform
