// A subcommand: its parser and what it does once its arguments are parsed.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <optional>
#include <string>

#include "cancel_state.h"
#include "common_options.h"
#include "library_reports.h"

struct CommandContext {
    const CommonOptions& options;
    CancelState& cancel;
    LibraryReports& reports;
    // The library's reason for the failure of the last transfer, if it reported one.
    std::optional<std::string> failureReason;
};

struct Command {
    CLI::App* parser;
    std::function<int(CommandContext&)> run;
};

// Each adds its subcommand to `app`; the values it parses live in the returned runner.
Command AddGetCommand(CLI::App& app);
Command AddPostCommand(CLI::App& app);
Command AddDownloadCommand(CLI::App& app);
Command AddUploadCommand(CLI::App& app);
Command AddConfCommand(CLI::App& app);
Command AddCpuCommand(CLI::App& app);
