// The CPU meter's arithmetic on times the test gives (the export tests drive the real clocks).
#include "diag/cpu_usage_meter.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace zemuser;

// A machine whose tick and times the test sets; its kernel time includes the idle time.
struct FakeClock : platform::CpuClock {
    std::uint32_t tick = 0;
    std::int64_t idle = 0, busy = 0, process = 0;
    bool processTimesFail = false;
    std::uint32_t TickCount() override { return tick; }
    std::int64_t SystemTime() override { return 1; }
    bool SystemTimes(std::int64_t* idleTime, std::int64_t* kernel, std::int64_t* user) override {
        *idleTime = idle, *kernel = idle + busy / 2, *user = busy - busy / 2;
        return true;
    }
    bool ProcessTimes(std::int64_t* kernel, std::int64_t* user) override {
        *kernel = 0, *user = process;
        return !processTimesFail;
    }
};

// `ms` pass in which the processors run `total` units, `busy` of them not idle and `process`
// of them for this process; then the meter is polled and answers {system, process}.
struct Poll {
    std::uint32_t ms;
    std::int64_t total, busy, process;
    int system, expectedProcess;
    bool processTimesFail = false;
};

TEST(CpuUsageMeter, ArithmeticOnGivenTimes) {
    const struct {
        const char* name;
        std::uint32_t startTick;
        std::vector<Poll> polls;
    } rows[] = {
        // clang-format off
        {"the baseline needs more than 200 ms after creation, the next sample more than 200 ms", 1000,
         {{0, 0, 0, 0, 0, 0}, {200, 0, 0, 0, 0, 0}, {1, 1000, 500, 500, 0, 0}, {200, 1000, 400, 300, 0, 0},
          {1, 0, 0, 0, 40, 30}}},
        {"past the whole is 100, idle past it 0", 1000, {{201, 0, 0, 0, 0, 0}, {250, 100, 100, 103, 100, 100},
         {250, 100, -4, 0, 50, 50}}},
        {"only the last five samples count; means truncate", 1000, {{201, 0, 0, 0, 0, 0},
         {250, 1000, 900, 100, 90, 10}, {250, 1000, 100, 900, 50, 50}, {250, 1000, 200, 800, 40, 60},
         {250, 1000, 300, 700, 37, 62}, {250, 1000, 400, 600, 38, 62}, {250, 1000, 500, 500, 30, 70}}},
        {"an interval without processor time records 0", 1000,
         {{201, 0, 0, 0, 0, 0}, {250, 1000, 500, 200, 50, 20}, {250, 0, 0, 0, 25, 10}}},
        {"a wrapped tick counts; its top bit does not", 0xFFFFFF00,
         {{0x110, 0, 0, 0, 0, 0}, {0x80000064, 1000, 500, 500, 0, 0}, {101, 0, 0, 0, 50, 50}}},
        {"a failed process query takes no sample; the next poll retries at once", 1000,
         {{201, 0, 0, 0, 0, 0}, {250, 1000, 600, 400, 60, 40}, {250, 1000, 200, 100, 60, 40, true},
          {0, 0, 0, 0, 40, 25}}},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto clock = std::make_unique<FakeClock>();
        FakeClock& machine = *clock;
        machine.tick = row.startTick;
        CpuUsageMeter meter(std::move(clock));
        for (const Poll& poll : row.polls) {
            machine.tick += poll.ms;
            machine.idle += poll.total - poll.busy;
            machine.busy += poll.busy;
            machine.process += poll.process;
            machine.processTimesFail = poll.processTimesFail;
            int32_t system = -1;
            EXPECT_EQ(meter.Sample(&system), poll.expectedProcess) << "after " << poll.ms;
            EXPECT_EQ(system, poll.system) << "after " << poll.ms;
        }
        // Polled again at once: the last answer, also without an out value.
        EXPECT_EQ(meter.Sample(nullptr), row.polls.back().expectedProcess);
    }
}

}  // namespace
