#include "run_transfer.h"

#include <unistd.h>

#include "exit_codes.h"
#include "messages.h"

std::optional<int> RunTransfer(CommandContext& context, const ProgressSource& progress,
                               const std::function<void(TransferHandle)>& transfer) {
    if (context.cancel.Cancelled()) return ReportCancelled();
    TransferHandleOwner handle = BeginTransfer(context.options);
    if (!handle) {
        PrintError("the library could not create a transfer handle");
        return kExitTransferFailed;
    }
    {
        std::optional<TransferProgress> line;
        if (!context.options.quiet && isatty(STDERR_FILENO)) line.emplace(progress);
        CancelState::ActiveTransfer active(context.cancel, handle.get());
        transfer(handle.get());
    }
    context.failureReason = LastFailureReason(context.reports.TakeNew());
    return std::nullopt;
}

int ReportTransferFailed(const CommandContext& context, const std::string& url,
                         const std::string& what) {
    if (context.failureReason) {
        PrintError(url + ": " + *context.failureReason);
    } else if (!context.options.traceFile.empty()) {
        PrintError(what + " (the trace file may tell why)");
    } else {
        PrintError(what + " (run again with --trace FILE for details)");
    }
    return kExitTransferFailed;
}
