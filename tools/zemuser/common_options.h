// The options every subcommand takes: the library's trace file and level, proxy credentials
// for the transfer handle, and whether to show progress.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>

#include "library_handles.h"

struct CommonOptions {
    std::string traceFile;
    std::optional<int> traceLevel;
    std::optional<std::string> proxyUser;
    std::optional<std::string> proxyPassword;
    bool quiet = false;
};

void AddCommonOptions(CLI::App& app, CommonOptions& options);

// Points the library's trace at the chosen file and level, if any were given.
void ApplyTraceOptions(const CommonOptions& options);

// A new transfer handle, with the proxy credentials when either was given; null when the
// library could not create one.
TransferHandleOwner BeginTransfer(const CommonOptions& options);
