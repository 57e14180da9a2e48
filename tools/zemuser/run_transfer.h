// Runs one library transfer on a handle of its own that Ctrl-C can reach, and says why it
// failed when it did.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "command.h"
#include "transfer_progress.h"

// Calls `transfer` with a new handle while a cancel reaches it, then ends the handle. On a
// terminal, and unless --quiet, a progress line from `progress` shows while it runs. Gives an
// exit status when no transfer ran (cancelled before it began, no handle to be had), nullopt
// after the transfer has run; the library's reason for a failure is then in the context.
std::optional<int> RunTransfer(CommandContext& context, const ProgressSource& progress,
                               const std::function<void(TransferHandle)>& transfer);

// Says that the transfer to or from `url` failed, with the library's reason when it gave one
// ("zemuser: URL: reason"), else with `what` failed and where to look; gives the exit status.
int ReportTransferFailed(const CommandContext& context, const std::string& url,
                         const std::string& what);
