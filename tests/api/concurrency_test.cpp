// Host threads fetching at once, tracing while the trace file changes, and busy for the CPU meter.
#include <atomic>
#include <chrono>

#include "api_support.h"

namespace {

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kThreads = 8, kFetches = 24;
#else
constexpr int kThreads = 16, kFetches = 200;
#endif

// Runs the fetches on every thread, each of its own file, alternating between ZEMUrlGet2 and
// ZEMUrlGet3 and between a null handle and the thread's own; gives the number of wrong results.
int RunFetchers(const NginxServer& nginx, int fetches) {
    std::atomic<int> wrong{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&nginx, &wrong, t, fetches] {
            const std::string url = nginx.url("/t" + std::to_string(t));
            const std::string body = PatternText(1000 + 37 * static_cast<std::size_t>(t), t);
            const int32_t size = static_cast<int32_t>(body.size());
            OwnedHandle own = BeginHandle();
            for (int i = 0; i < fetches; ++i) {
                const Outcome out = Perform(i % 4 < 2 ? Get2 : Get3,
                                            i % 2 == 0 ? nullptr : own.get(), url.c_str(), size);
                if (out.result != size || out.status != 200 ||
                    out.buffer.substr(0, body.size() + 1) != body + '\0') {
                    ++wrong;
                }
            }
        });
    }
    for (std::thread& worker : workers) worker.join();
    return wrong.load();
}

TEST(ConcurrentTransfers, ManyThreadsFetchWithNullAndOwnHandles) {
    NginxServer nginx;
    for (int t = 0; t < kThreads; ++t) {
        nginx.AddFile("t" + std::to_string(t),
                      PatternText(1000 + 37 * static_cast<std::size_t>(t), t));
    }
    // A first round settles what the process keeps; the second leaves the descriptors as found.
    EXPECT_EQ(RunFetchers(nginx, 4), 0);
    const int descriptors = CountOpenDescriptors();
    EXPECT_EQ(RunFetchers(nginx, kFetches), 0);
    EXPECT_EQ(CountOpenDescriptors(), descriptors);
}

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
