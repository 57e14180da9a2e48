// The engine's two failure reports: a line naming the URL and the failure text, then a line
// with the internet layer's own text for the thread's last error code. Both go to the debugger
// output and to the trace log at level 2.
#pragma once

#include <cstdint>

// A failure while connecting: "[ <scheme>host:port ] text".
void ReportConnectionFailure(const char* host, int32_t port, uint32_t mode, const char* text);

// A failure of a request or a response operation: "[ <scheme>host:port<path> ] text".
void ReportRequestFailure(const char* host, int32_t port, uint32_t mode, const char* path,
                          const char* text);
