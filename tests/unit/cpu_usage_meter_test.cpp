#include "diag/cpu_usage_meter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <memory>
#include <ostream>
#include <thread>
#include <utility>
#include <vector>

namespace {

using namespace zemuser;

// A machine whose clocks and processor times the test sets by hand; each test starts it afresh.
struct FakeMachine {
    std::uint32_t tick = 1000;
    int64_t systemTime = 1'000'000;
    int64_t idle = 0, kernel = 0, user = 0;
    int64_t procKernel = 0, procUser = 0;
    bool hasSystemTimes = true;  // a system without the query reads zeros
    bool processTimesFail = false;
    int timeQueries = 0;  // reads of the current system time: one per sample taken
};
FakeMachine g_machine;

class FakeClock : public platform::CpuClock {
  public:
    std::uint32_t TickCount() override { return g_machine.tick; }
    std::int64_t SystemTime() override {
        ++g_machine.timeQueries;
        return g_machine.systemTime;
    }
    bool SystemTimes(std::int64_t* idle, std::int64_t* kernel, std::int64_t* user) override {
        *idle = g_machine.hasSystemTimes ? g_machine.idle : 0;
        *kernel = g_machine.hasSystemTimes ? g_machine.kernel : 0;
        *user = g_machine.hasSystemTimes ? g_machine.user : 0;
        return true;
    }
    bool ProcessTimes(std::int64_t* kernel, std::int64_t* user) override {
        if (g_machine.processTimesFail) return false;
        *kernel = g_machine.procKernel;
        *user = g_machine.procUser;
        return true;
    }
};

std::unique_ptr<platform::CpuClock> FakeSources() {
    return std::make_unique<FakeClock>();
}

struct Usage {
    int32_t system;
    int32_t process;
    bool operator==(const Usage& other) const {
        return system == other.system && process == other.process;
    }
};
std::ostream& operator<<(std::ostream& out, const Usage& usage) {
    return out << "{system " << usage.system << ", process " << usage.process << "}";
}

class CpuUsageMeterTest : public ::testing::Test {
  protected:
    CpuUsageMeterTest() { g_machine = FakeMachine(); }

    // Lets `ms` pass, in which the machine is busy `systemPercent` of `total` processor time
    // units and the process `processPercent` of them.
    static void Pass(std::uint32_t ms, int64_t systemPercent, int64_t processPercent,
                     int64_t total = 1000) {
        g_machine.tick += ms;
        g_machine.systemTime += int64_t{ms} * 10'000;
        const int64_t busy = total * systemPercent / 100;
        g_machine.idle += total - busy;
        g_machine.kernel += total - busy + busy / 2;  // the kernel time includes the idle time
        g_machine.user += busy - busy / 2;
        g_machine.procUser += total * processPercent / 100;
    }

    static Usage Poll(CpuUsageMeter& meter) {
        Usage usage{-1, -1};
        usage.process = meter.Sample(&usage.system);
        return usage;
    }
};

TEST_F(CpuUsageMeterTest, AnswersZeroWithoutSamplingUntil200msHavePassed) {
    CpuUsageMeter meter(FakeSources());
    EXPECT_EQ(Poll(meter), (Usage{0, 0}));
    Pass(200, 90, 90);
    EXPECT_EQ(Poll(meter), (Usage{0, 0}));
    EXPECT_EQ(g_machine.timeQueries, 0);
}

TEST_F(CpuUsageMeterTest, BaselineAfter201msThenEachSampleNeedsMoreThan200ms) {
    CpuUsageMeter meter(FakeSources());
    Pass(201, 90, 90);
    EXPECT_EQ(Poll(meter), (Usage{0, 0}));  // the baseline
    EXPECT_EQ(g_machine.timeQueries, 1);

    Pass(200, 40, 30);
    EXPECT_EQ(Poll(meter), (Usage{0, 0}));
    EXPECT_EQ(g_machine.timeQueries, 1);

    g_machine.tick += 1;
    EXPECT_EQ(Poll(meter), (Usage{40, 30}));
    EXPECT_EQ(g_machine.timeQueries, 2);
}

TEST_F(CpuUsageMeterTest, ReportsTheMeanOfTheSamplesTruncated) {
    CpuUsageMeter meter(FakeSources());
    Pass(250, 0, 0);
    Poll(meter);
    const int32_t samples[] = {10, 20, 31};
    const int32_t means[] = {10, 15, 20};  // 61 / 3 truncates
    for (int i = 0; i < 3; ++i) {
        Pass(250, samples[i], samples[i] / 2);
        EXPECT_EQ(Poll(meter).system, means[i]) << i;
    }
    EXPECT_EQ(meter.Sample(nullptr), (5 + 10 + 15) / 3);  // null out value: process only
}

TEST_F(CpuUsageMeterTest, SampleIsTruncatedTowardZero) {
    CpuUsageMeter meter(FakeSources());
    Pass(250, 0, 0);
    Poll(meter);
    Pass(250, 0, 0, 3);
    g_machine.idle -= 1;      // busy 1 of 3 units
    g_machine.procUser += 2;  // 2 of 3 units
    EXPECT_EQ(Poll(meter), (Usage{33, 66}));
}

// Times of different resolutions can measure a little past the whole or below nothing; a
// sample stays a percentage.
TEST_F(CpuUsageMeterTest, SamplesStayBetween0And100) {
    struct Row {
        const char* what;
        int64_t kernel, idle, process;  // the user time grows by 50 units
        Usage expected;
    };
    const Row rows[] = {
        {"process past the whole", 50, 0, 103, {100, 100}},
        {"idle stepping back", 45, -5, 0, {100, 0}},
        {"idle past the whole", 50, 104, 0, {0, 0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        g_machine = FakeMachine();
        CpuUsageMeter meter(FakeSources());
        Pass(250, 0, 0);
        Poll(meter);
        g_machine.tick += 250;
        g_machine.kernel += row.kernel;
        g_machine.user += 50;
        g_machine.idle += row.idle;
        g_machine.procUser += row.process;
        EXPECT_EQ(Poll(meter), row.expected);
    }
}

TEST_F(CpuUsageMeterTest, OnlyTheLastFiveSamplesCount) {
    CpuUsageMeter meter(FakeSources());
    Pass(250, 0, 0);
    Poll(meter);
    const int32_t samples[] = {90, 10, 20, 30, 40, 50};
    Usage last{};
    for (int32_t sample : samples) {
        Pass(250, sample, 100 - sample);
        last = Poll(meter);
    }
    EXPECT_EQ(last, (Usage{(10 + 20 + 30 + 40 + 50) / 5, (90 + 80 + 70 + 60 + 50) / 5}));
}

TEST_F(CpuUsageMeterTest, IntervalWithoutProcessorTimeRecordsZero) {
    CpuUsageMeter meter(FakeSources());
    Pass(250, 0, 0);
    Poll(meter);
    Pass(250, 50, 20);
    EXPECT_EQ(Poll(meter), (Usage{50, 20}));
    Pass(250, 0, 0, 0);  // the clock moves, the processor times do not
    EXPECT_EQ(Poll(meter), (Usage{25, 10}));
}

TEST_F(CpuUsageMeterTest, WithoutSystemTimesEveryAnswerIsZero) {
    g_machine.hasSystemTimes = false;
    CpuUsageMeter meter(FakeSources());
    for (int i = 0; i < 4; ++i) {
        Pass(250, 80, 60);
        EXPECT_EQ(Poll(meter), (Usage{0, 0}));
    }
    EXPECT_EQ(g_machine.timeQueries, 4);
}

TEST_F(CpuUsageMeterTest, TickDifferenceIgnoresTheTopBit) {
    g_machine.tick = 0xFFFFFF00;
    CpuUsageMeter meter(FakeSources());
    g_machine.tick = 0x00000010;  // the counter wrapped 272 ms later
    Poll(meter);
    EXPECT_EQ(g_machine.timeQueries, 1);

    g_machine.tick += 0x80000064;  // only 100 ms once the top bit is cleared
    Poll(meter);
    EXPECT_EQ(g_machine.timeQueries, 1);
}

TEST_F(CpuUsageMeterTest, FailedProcessQueryTakesNoSampleAndRetriesNextPoll) {
    CpuUsageMeter meter(FakeSources());
    Pass(250, 0, 0);
    Poll(meter);
    Pass(250, 60, 40);
    EXPECT_EQ(Poll(meter), (Usage{60, 40}));

    Pass(250, 20, 10);
    g_machine.processTimesFail = true;
    EXPECT_EQ(Poll(meter), (Usage{60, 40}));  // the last answer stands
    g_machine.processTimesFail = false;
    // No 200 ms wait: the failed poll did not count as a sample.
    EXPECT_EQ(Poll(meter), (Usage{(60 + 20) / 2, (40 + 10) / 2}));
}

// CPU time of this process and wall time, in seconds.
std::pair<double, double> ProcessAndWallSeconds() {
    timespec cpu{}, wall{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
    clock_gettime(CLOCK_MONOTONIC, &wall);
    return {cpu.tv_sec + cpu.tv_nsec / 1e9, wall.tv_sec + wall.tv_nsec / 1e9};
}

// The platform's real clocks: busy threads of this process show up in both percentages. The
// share they get depends on the machine's load, so it is compared with an independent measure.
TEST(CpuUsageMeterRealTest, BusyThreadsShowUpInTheProcessUsage) {
    CpuUsageMeter meter;
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    int32_t system = -1;
    EXPECT_EQ(meter.Sample(&system), 0);  // the baseline
    const auto [cpuBefore, wallBefore] = ProcessAndWallSeconds();

    std::atomic<bool> stop{false};
    std::vector<std::thread> spinners;
    for (int i = 0; i < 2; ++i) {
        spinners.emplace_back([&stop] {
            volatile uint64_t spins = 0;
            while (!stop.load(std::memory_order_relaxed)) spins = spins + 1;
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    const int32_t process = meter.Sample(&system);
    const auto [cpuAfter, wallAfter] = ProcessAndWallSeconds();
    // The process's share of all processors, measured independently of the meter.
    const double expected = (cpuAfter - cpuBefore) * 100 /
                            ((wallAfter - wallBefore) * std::thread::hardware_concurrency());
    stop = true;
    for (std::thread& spinner : spinners) spinner.join();

    ASSERT_GT(expected, 5) << "the busy threads got no processor time";
    EXPECT_NEAR(process, expected, 10);
    EXPECT_GE(system, process - 10);  // the machine's usage includes the process's
}

// Polls from several threads at once share one meter; every answer is a percentage.
TEST(CpuUsageMeterRealTest, ConcurrentPollsGiveSaneAnswers) {
    CpuUsageMeter meter;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(700);
    std::atomic<int> outOfRange{0};
    std::vector<std::thread> pollers;
    for (int i = 0; i < 4; ++i) {
        pollers.emplace_back([&] {
            while (std::chrono::steady_clock::now() < end) {
                int32_t system = -1;
                const int32_t process = meter.Sample(&system);
                if (system < 0 || system > 100 || process < 0 || process > 100) ++outOfRange;
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
    }
    for (std::thread& poller : pollers) poller.join();
    EXPECT_EQ(outOfRange.load(), 0);
}

}  // namespace
