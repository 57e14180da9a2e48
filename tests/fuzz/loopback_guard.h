// The answers of the server fuzzer may redirect a request to any host. This executable takes
// the place of the C library's connect() and getaddrinfo() so that nothing in the process can
// reach beyond the loopback interface: look-ups accept numeric addresses only (no query ever
// goes to a name server) and connections to any other address are refused.
#pragma once

#include <cstdint>

namespace fuzz {

// Connections the guard let through and refused since the start.
std::uint64_t LoopbackConnects();
std::uint64_t RefusedConnects();

}  // namespace fuzz
