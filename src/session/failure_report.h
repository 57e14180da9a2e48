// The two failure reports of the engine. Each writes a line naming the URL and the failure text
// and, when the failure's code is an internet error code, a line with the platform's text for
// it; both go to the debugger output and to the trace log at level 2.
#pragma once

#include <cstdint>

#include "session/failure.h"

namespace zemuser {

void ReportConnectionFailure(const char* host, std::int32_t port, std::uint32_t mode,
                             Failure failure);
void ReportRequestFailure(const char* host, std::int32_t port, std::uint32_t mode, const char* path,
                          Failure failure);

}  // namespace zemuser
