// The service's command line.
#pragma once

#include <optional>
#include <string>

#include "service_limits.h"

struct ServiceOptions {
    std::string root;
    int port = 8080;
    std::string host = "127.0.0.1";
    std::string token;  // "" when the service is open to everyone who can reach it
    ServiceLimits limits;
};

// Fills `options` from the command line; gives the exit status when the program should end
// at once (after --help, or with a usage error already written).
std::optional<int> ParseOptions(int argc, char** argv, ServiceOptions& options);
