// Where the proxy password comes from: a password on the command line is visible to other
// users (in /proc/PID/cmdline), so it may also come from the environment or standard input.
#pragma once

#include <optional>

#include "cancel_state.h"
#include "common_options.h"

// Replaces --proxy-password "-" with a line read from standard input (not echoed on a
// terminal), or fills a missing password from ZEMUSER_PROXY_PASSWORD. Gives an exit status
// when the command must end instead: no line to read, or cancelled while waiting for it.
std::optional<int> ResolveProxyPassword(CommonOptions& options, const CancelState& cancel);
