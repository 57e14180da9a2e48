#include "diag/cpu_usage_meter.h"

namespace {

// A new sample needs more than this many milliseconds since the last one.
constexpr DWORD kMinSampleIntervalMs = 200;

int64_t ToInt64(const FILETIME& time) {
    return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) |
                                time.dwLowDateTime);
}

// Truncates toward zero, as the integer division does.
int32_t Percent(int64_t part, int64_t total) {
    return static_cast<int32_t>(part * 100 / total);
}

int32_t Mean(const int32_t* history, int32_t count) {
    int64_t sum = 0;
    for (int32_t i = 0; i < count; ++i) {
        sum += history[i];
    }
    return static_cast<int32_t>(sum / count);
}

}  // namespace

CpuUsageMeter::CpuUsageMeter(const CpuTimeSources& sources) : m_sources(sources) {
    // Looked up at run time: a system without it still answers, with zeros.
    m_kernelModule = m_sources.loadLibrary("Kernel32.dll");
    if (m_kernelModule != nullptr) {
        const FARPROC address = m_sources.getProcAddress(m_kernelModule, "GetSystemTimes");
        if (address != nullptr) {
            // Through the generic function type, which converts to any other without a warning.
            m_getSystemTimes = reinterpret_cast<CpuTimeSources::GetSystemTimesFunction>(
                reinterpret_cast<void (*)()>(address));
        } else {
            m_sources.freeLibrary(m_kernelModule);
            m_kernelModule = nullptr;
        }
    }
    m_lastSampleTick.store(m_sources.getTickCount(), std::memory_order_relaxed);
}

CpuUsageMeter::~CpuUsageMeter() {
    if (m_kernelModule != nullptr) {
        m_sources.freeLibrary(m_kernelModule);
        m_kernelModule = nullptr;
    }
}

CpuUsageMeter& CpuUsageMeter::Shared() {
    // Built once even when threads race on the first call; its destruction is registered as a
    // termination action when the construction completes, i.e. after the trace log's.
    static CpuUsageMeter meter;
    return meter;
}

bool CpuUsageMeter::ReadTimes(Times* times) const {
    FILETIME systemTime{};
    m_sources.getSystemTimeAsFileTime(&systemTime);
    times->systemTime = ToInt64(systemTime);

    // Without the system query every total is zero and every sample reads 0.
    FILETIME idle{}, kernel{}, user{};
    if (m_getSystemTimes != nullptr && !m_getSystemTimes(&idle, &kernel, &user)) {
        return false;
    }
    times->idle = ToInt64(idle);
    times->kernel = ToInt64(kernel);
    times->user = ToInt64(user);

    FILETIME creation{}, exit{}, procKernel{}, procUser{};
    if (!m_sources.getProcessTimes(m_sources.getCurrentProcess(), &creation, &exit, &procKernel,
                                   &procUser)) {
        return false;
    }
    times->procKernel = ToInt64(procKernel);
    times->procUser = ToInt64(procUser);
    return true;
}

void CpuUsageMeter::Record(const Times& now) {
    // The kernel time includes the idle time: this is all processor time of the interval.
    const int64_t total = (now.kernel - m_prev.kernel) + (now.user - m_prev.user);
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

int32_t CpuUsageMeter::Sample(int32_t* systemUsage) {
    int64_t prevSampleTime = 0;
    int32_t sysUsage = 0;
    int32_t procUsage = 0;
    {
        CriticalSectionScope scope(m_lock);
        prevSampleTime = m_prev.systemTime;
        sysUsage = m_sysUsage;
        procUsage = m_procUsage;
    }

    // Clearing the top bit turns a wrap of the tick counter into a small positive interval.
    const DWORD elapsed =
        (m_sources.getTickCount() - m_lastSampleTick.load(std::memory_order_relaxed)) & 0x7FFFFFFF;
    Times now;
    if (elapsed > kMinSampleIntervalMs && ReadTimes(&now)) {
        {
            CriticalSectionScope scope(m_lock);
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
        m_lastSampleTick.store(m_sources.getTickCount(), std::memory_order_relaxed);
    }

    if (systemUsage != nullptr) {
        *systemUsage = sysUsage;
    }
    return procUsage;
}
