// Host threads tracing while the trace file changes, and busy for the CPU meter.
#include <atomic>
#include <chrono>

#include "api_support.h"

namespace {

// The trace file switched back and forth while threads trace: no line goes to a closed stream,
// none is cut or mixed with another, and after the last switch none is lost.
TEST(ConcurrentTransfers, TraceFileSwitchesWhileThreadsTrace) {
    TempDir folder;
    const std::string files[] = {folder.File("a.txt"), folder.File("b.txt")};
    std::atomic<bool> stop{false};
    std::vector<std::thread> tracers;
    for (int t = 0; t < 8; ++t) {
        tracers.emplace_back([&stop] {
            // Each call traces its Begin line and fails on the scheme, sending nothing; the last
            // 20 come after the last switch.
            for (int after = 0; after < 20;) {
                const bool late = stop;
                ZEMUrlPost3("ftp://x/", nullptr, nullptr, nullptr, nullptr, nullptr);
                after += late ? 1 : 0;
            }
        });
    }
    for (int i = 0; i < 200; ++i) ZEMUser_SetTraceFile(files[i % 2].c_str());
    stop = true;
    for (std::thread& tracer : tracers) tracer.join();
    ZEMUser_SetTraceFile(nullptr);
    std::istringstream lines(ReadFileBytes(files[1]));
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        EXPECT_EQ(line, "ZEMUrlPost Begin: ftp://x/");
    }
    EXPECT_GE(count, 8 * 20);
}

// Busy threads must show in both readings; a meter that answers 0, or more than 100, fails.
TEST(ConcurrentTransfers, BusyThreadsRaiseBothCpuReadings) {
    std::atomic<bool> stop{false};
    std::vector<std::thread> spinners;
    for (int t = 0; t < 2; ++t) {
        spinners.emplace_back([&stop] {
            while (!stop) {
            }
        });
    }
    int32_t machine = 0, process = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while ((machine == 0 || process == 0) && std::chrono::steady_clock::now() < deadline) {
        machine = GetCPUUsage(&process);
        ASSERT_TRUE(machine >= 0 && machine <= 100 && process >= 0 && process <= 100)
            << machine << " " << process;
    }
    stop = true;
    for (std::thread& spinner : spinners) spinner.join();
    EXPECT_GT(machine, 0);
    EXPECT_GT(process, 0);
}

}  // namespace
