// Translation of the system's errno values into the error codes of the Windows interfaces.
#pragma once

#include "platform/posix/windows_types.h"

namespace platform::posix {

// The code for failures that have no closer Windows equivalent.
constexpr DWORD ERROR_GEN_FAILURE = 31;

DWORD ErrorFromErrno(int error);

// Sets the calling thread's last error from an errno value.
void SetLastErrorFromErrno(int error);

}  // namespace platform::posix
