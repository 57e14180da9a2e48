// The machine's and the process's CPU usage in percent, each the mean of the last five
// samples. A sample is taken at most every 200 ms; calls in between get the last answer.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/system.h"

namespace zemuser {

class CpuUsageMeter {
  public:
    // The meter reads the platform's clocks unless given others (tests drive exact numbers).
    explicit CpuUsageMeter(std::unique_ptr<platform::CpuClock> clock = platform::OpenCpuClock());
    CpuUsageMeter(const CpuUsageMeter&) = delete;
    CpuUsageMeter& operator=(const CpuUsageMeter&) = delete;

    // The library's meter, created on first use (once, whichever threads ask together) and
    // destroyed at unload, before the trace file is closed.
    static CpuUsageMeter& Shared();

    // Returns the process's usage and gives the machine's through `systemUsage` (may be null).
    std::int32_t Sample(std::int32_t* systemUsage);

  private:
    static constexpr int kHistorySize = 5;

    // Processor times of one sample, in 100 ns units.
    struct Times {
        std::int64_t systemTime = 0;
        std::int64_t idle = 0, kernel = 0, user = 0;
        std::int64_t procKernel = 0, procUser = 0;
    };

    // False when a query failed; that poll then takes no sample.
    bool ReadTimes(Times* times) const;
    // Turns the interval since the previous sample into percentages and updates the means.
    void Record(const Times& now);

    const std::unique_ptr<platform::CpuClock> m_clock;
    // Read and written outside the lock, as the tick rule needs no consistency with the rest.
    std::atomic<std::uint32_t> m_lastSampleTick{0};

    // Guards everything below.
    std::mutex m_lock;
    Times m_prev;
    std::int32_t m_sysHistory[kHistorySize] = {};
    std::int32_t m_procHistory[kHistorySize] = {};
    std::int32_t m_historyCount = 0;
    std::uint32_t m_sampleCount = 0;  // unsigned: wraps instead of overflowing after years
    std::int32_t m_sysUsage = 0;
    std::int32_t m_procUsage = 0;
};

}  // namespace zemuser
