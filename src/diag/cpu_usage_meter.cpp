#include "diag/cpu_usage_meter.h"

#include <algorithm>

namespace zemuser {

namespace {

// A new sample needs more than this many milliseconds since the last one.
constexpr std::uint32_t kMinSampleIntervalMs = 200;

// Truncates toward zero, as the integer division does. Held to 0..100: on Linux the system's
// times come in clock ticks and the process's finer, so a busy interval can measure a little
// past the whole, or an idle count that steps back a little below nothing.
std::int32_t Percent(std::int64_t part, std::int64_t total) {
    return static_cast<int32_t>(std::clamp<std::int64_t>(part * 100 / total, 0, 100));
}

std::int32_t Mean(const std::int32_t* history, std::int32_t count) {
    std::int64_t sum = 0;
    for (int32_t i = 0; i < count; ++i) {
        sum += history[i];
    }
    return static_cast<int32_t>(sum / count);
}

}  // namespace

CpuUsageMeter::CpuUsageMeter(std::unique_ptr<platform::CpuClock> clock)
    : m_clock(std::move(clock)) {
    m_lastSampleTick.store(m_clock->TickCount(), std::memory_order_relaxed);
}

CpuUsageMeter& CpuUsageMeter::Shared() {
    // Built once even when threads race on the first call; its destruction is registered as a
    // termination action when the construction completes, i.e. after the trace log's.
    static CpuUsageMeter meter;
    return meter;
}

bool CpuUsageMeter::ReadTimes(Times* times) const {
    times->systemTime = m_clock->SystemTime();
    return m_clock->SystemTimes(&times->idle, &times->kernel, &times->user) &&
           m_clock->ProcessTimes(&times->procKernel, &times->procUser);
}

void CpuUsageMeter::Record(const Times& now) {
    // The kernel time includes the idle time: this is all processor time of the interval.
    const std::int64_t total = (now.kernel - m_prev.kernel) + (now.user - m_prev.user);
    int32_t sysPercent = 0;
    int32_t procPercent = 0;
    if (total != 0) {
        sysPercent = Percent(total - (now.idle - m_prev.idle), total);
        procPercent =
            Percent((now.procKernel - m_prev.procKernel) + (now.procUser - m_prev.procUser), total);
    }
    m_prev = now;

    const uint32_t slot = m_sampleCount % kHistorySize;
    m_sysHistory[slot] = sysPercent;
    m_procHistory[slot] = procPercent;
    ++m_sampleCount;
    if (m_historyCount < kHistorySize) {
        ++m_historyCount;
    }
    m_sysUsage = Mean(m_sysHistory, m_historyCount);
    m_procUsage = Mean(m_procHistory, m_historyCount);
}

std::int32_t CpuUsageMeter::Sample(int32_t* systemUsage) {
    std::int64_t prevSampleTime = 0;
    int32_t sysUsage = 0;
    int32_t procUsage = 0;
    {
        std::lock_guard<std::mutex> scope(m_lock);
        prevSampleTime = m_prev.systemTime;
        sysUsage = m_sysUsage;
        procUsage = m_procUsage;
    }

    // Clearing the top bit turns a wrap of the tick counter into a small positive interval.
    const std::uint32_t elapsed =
        (m_clock->TickCount() - m_lastSampleTick.load(std::memory_order_relaxed)) & 0x7FFFFFFF;
    Times now;
    if (elapsed > kMinSampleIntervalMs && ReadTimes(&now)) {
        {
            std::lock_guard<std::mutex> scope(m_lock);
            if (prevSampleTime == 0) {
                // The first sample is only the baseline of the next one.
                m_prev = now;
                m_sysUsage = 0;
                m_procUsage = 0;
            } else {
                Record(now);
            }
            sysUsage = m_sysUsage;
            procUsage = m_procUsage;
        }
        m_lastSampleTick.store(m_clock->TickCount(), std::memory_order_relaxed);
    }

    if (systemUsage != nullptr) {
        *systemUsage = sysUsage;
    }
    return procUsage;
}

}  // namespace zemuser
