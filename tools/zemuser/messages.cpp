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
