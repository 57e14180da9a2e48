// The machine's and the process's CPU usage in percent, each the mean of the last five
// samples. A sample is taken at most every 200 ms; calls in between get the last answer.
#pragma once

#include <atomic>
#include <cstdint>

#include "diag/cpu_time_sources.h"
#include "platform/critical_section.h"
#include "platform/platform.h"

class CpuUsageMeter {
  public:
    explicit CpuUsageMeter(const CpuTimeSources& sources = CpuTimeSources::Platform());
    ~CpuUsageMeter();
    CpuUsageMeter(const CpuUsageMeter&) = delete;
    CpuUsageMeter& operator=(const CpuUsageMeter&) = delete;

    // The library's meter, created on first use (once, whichever threads ask together) and
    // destroyed at unload, before the trace file is closed.
    static CpuUsageMeter& Shared();

    // Returns the process's usage and gives the machine's through `systemUsage` (may be null).
    int32_t Sample(int32_t* systemUsage);

  private:
    static constexpr int kHistorySize = 5;

    // Processor times of one sample, in 100 ns units.
    struct Times {
        int64_t systemTime = 0;
        int64_t idle = 0, kernel = 0, user = 0;
        int64_t procKernel = 0, procUser = 0;
    };

    // False when a query failed; that poll then takes no sample.
    bool ReadTimes(Times* times) const;
    // Turns the interval since the previous sample into percentages and updates the means.
    void Record(const Times& now);

    const CpuTimeSources m_sources;
    HMODULE m_kernelModule = nullptr;
    CpuTimeSources::GetSystemTimesFunction m_getSystemTimes = nullptr;
    // Read and written outside the lock, as the tick rule needs no consistency with the rest.
    std::atomic<DWORD> m_lastSampleTick{0};

    // Guards everything below.
    CriticalSection m_lock;
    Times m_prev;
    int32_t m_sysHistory[kHistorySize] = {};
    int32_t m_procHistory[kHistorySize] = {};
    int32_t m_historyCount = 0;
    uint32_t m_sampleCount = 0;  // unsigned: wraps instead of overflowing after years of polls
    int32_t m_sysUsage = 0;
    int32_t m_procUsage = 0;
};
