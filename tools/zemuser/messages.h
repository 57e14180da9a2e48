// The host's own messages on stderr, prefixed with the program name like any Unix tool's.
#pragma once

#include <string>

void PrintError(const std::string& message);
// Prints "zemuser: cancelled" and gives the exit status of a cancelled command.
int ReportCancelled();
