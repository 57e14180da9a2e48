#include "run_transfer.h"

#include "exit_codes.h"
#include "messages.h"

std::optional<int> RunTransfer(CommandContext& context,
                               const std::function<void(TransferHandle)>& transfer) {
    if (context.cancel.Cancelled()) return ReportCancelled();
    TransferHandleOwner handle = BeginTransfer(context.options);
    if (!handle) {
        PrintError("the library could not create a transfer handle");
        return kExitTransferFailed;
    }
    CancelState::ActiveTransfer active(context.cancel, handle.get());
    transfer(handle.get());
    return std::nullopt;
}
