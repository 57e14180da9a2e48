#include "messages.h"

#include <iostream>

#include "exit_codes.h"

void PrintError(const std::string& message) {
    std::cerr << "zemuser: " << message << std::endl;
}

int ReportCancelled() {
    PrintError("cancelled");
    return kExitCancelled;
}

int ReportTransferFailed(const std::string& what, bool traced) {
    // The library gives no reason; its trace file has the failure report.
    PrintError(what + (traced ? " (the trace file has the reason)"
                              : " (run again with --trace FILE for the reason)"));
    return kExitTransferFailed;
}
