// The few modules that exist here, as fixed handles.
#pragma once

#include "platform/posix/windows_types.h"

namespace platform::posix {

// "Kernel32.dll": supplies GetSystemTimes through GetProcAddress.
HMODULE KernelModule();

// "wininet.dll": its handle selects the internet message table in FormatMessageA.
HMODULE InternetModule();

}  // namespace platform::posix
