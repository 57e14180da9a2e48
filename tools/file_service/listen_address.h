// Whether an address to listen on keeps the service to this machine.
#pragma once

#include <string>

// True when every address that `host` names is a loopback one (127.0.0.0/8, ::1, or names
// such as "localhost" that resolve only to those); false for the wildcard addresses, others,
// and names that do not resolve.
bool IsLoopbackOnly(const std::string& host);
