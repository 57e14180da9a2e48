#include "platform/posix/internet/transfer_limits.h"

#include <cstdlib>

namespace platform::internet {
namespace {

long Milliseconds(const char* name, long fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return fallback;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return (end != nullptr && *end == '\0' && value > 0) ? value : fallback;
}

}  // namespace

TransferTimeouts CurrentTimeouts() {
    TransferTimeouts timeouts;
    timeouts.connectMs = Milliseconds("ZEMUSER_CONNECT_TIMEOUT_MS", timeouts.connectMs);
    timeouts.receiveMs = Milliseconds("ZEMUSER_RECEIVE_TIMEOUT_MS", timeouts.receiveMs);
    return timeouts;
}

}  // namespace platform::internet
