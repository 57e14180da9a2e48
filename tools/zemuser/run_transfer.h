// Runs one library transfer on a handle of its own that Ctrl-C can reach.
#pragma once

#include <functional>
#include <optional>

#include "command.h"

// Calls `transfer` with a new handle while a cancel reaches it, then ends the handle. Gives an
// exit status when no transfer ran (cancelled before it began, no handle to be had), nullopt
// after the transfer has run.
std::optional<int> RunTransfer(CommandContext& context,
                               const std::function<void(TransferHandle)>& transfer);

inline bool Traced(const CommandContext& context) {
    return !context.options.traceFile.empty();
}
