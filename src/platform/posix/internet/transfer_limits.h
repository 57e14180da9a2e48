// Time-outs and buffer sizes of a transfer. The time-outs may be shortened through the
// environment (ZEMUSER_CONNECT_TIMEOUT_MS, ZEMUSER_RECEIVE_TIMEOUT_MS), which the tests use.
#pragma once

#include <cstddef>

namespace platform::internet {

struct TransferTimeouts {
    long connectMs = 60000;
    long receiveMs = 60000;  // longest stretch without any byte moving; a head's whole wait
};

TransferTimeouts CurrentTimeouts();

// The library's receive buffer: large enough that small reads cost little.
constexpr long kReceiveBufferBytes = 96L * 1024;
// Body bytes held for the reader before the transfer pauses.
constexpr std::size_t kBodyWindowBytes = std::size_t{512} * 1024;

}  // namespace platform::internet
