// zemuser cpu: the machine's and this process's processor usage, as the library measures it.
#include <zemuser.h>

#include <cstdint>
#include <iostream>
#include <memory>

#include "command.h"
#include "exit_codes.h"
#include "messages.h"

namespace {

// The library samples at most every 200 ms, and its first two calls only create the meter
// and take a baseline: both report 0.
constexpr std::chrono::milliseconds kSampleGap(250);
constexpr std::chrono::milliseconds kWatchPeriod(1000);

void PrintUsage() {
    std::int32_t process = 0;
    std::int32_t system = GetCPUUsage(&process);
    std::cout << "system " << system << "% process " << process << '%' << std::endl;
}

}  // namespace

Command AddCpuCommand(CLI::App& app) {
    CLI::App* parser = app.add_subcommand("cpu", "Show the processor usage the library measures");
    auto watch = std::make_shared<bool>(false);
    parser->add_flag("-w,--watch", *watch, "Print the usage every second until Ctrl-C");
    parser->footer(
        "Prints \"system N% process M%\": the whole machine's usage and this process's share,\n"
        "averaged over the library's last five samples. With --watch, Ctrl-C ends the\n"
        "command normally (exit status 0).\n"
        "\n"
        "Examples:\n"
        "  zemuser cpu\n"
        "  zemuser cpu --watch");

    auto run = [watch](CommandContext& context) {
        GetCPUUsage(nullptr);  // creates the meter
        if (!context.cancel.SleepFor(kSampleGap)) return ReportCancelled();
        GetCPUUsage(nullptr);  // takes the baseline
        if (!*watch) {
            if (!context.cancel.SleepFor(kSampleGap)) return ReportCancelled();
            PrintUsage();
            return static_cast<int>(kExitOk);
        }
        while (context.cancel.SleepFor(kWatchPeriod)) PrintUsage();
        return static_cast<int>(kExitOk);
    };
    return {parser, run};
}
