// The clocks and processor times of the CPU usage meter, in the units of Windows: 100 ns since
// 1601-01-01 UTC for the system time, milliseconds for the tick count. The machine's times come
// from the first line of /proc/stat, shaped as Windows reports them: the kernel time includes
// the idle time.
#include <fcntl.h>
#include <sys/resource.h>
#include <time.h>

#include <cstdlib>
#include <cstring>

#include "platform/posix/system/support.h"

namespace zemuser::platform {
namespace {

constexpr std::int64_t kUnitsPerSecond = 10'000'000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;

class ProcCpuClock final : public CpuClock {
  public:
    std::uint32_t TickCount() override {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        // Wraps after 49.7 days, as on Windows.
        return static_cast<std::uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1'000'000);
    }

    std::int64_t SystemTime() override {
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        return (now.tv_sec + kSecondsFrom1601To1970) * kUnitsPerSecond + now.tv_nsec / 100;
    }

    bool SystemTimes(std::int64_t* idleTime, std::int64_t* kernelTime,
                     std::int64_t* userTime) override {
        *idleTime = *kernelTime = *userTime = 0;
        if (!procStat_.valid()) return true;  // no /proc: a system without the query
        // The one open file is read again from its start rather than opened for each sample.
        char text[512] = {};
        const ssize_t count = posix::RetryOnSignal(
            [&] { return ::pread(procStat_.get(), text, sizeof text - 1, 0); });
        // In clock ticks: user nice system idle iowait irq softirq steal; older kernels stop
        // after idle.
        unsigned long long ticks[8] = {};
        if (count <= 0 || ticksPerSecond_ <= 0 || std::strncmp(text, "cpu ", 4) != 0) return false;
        const char* cursor = text + 4;
        int fields = 0;
        for (unsigned long long& tick : ticks) {
            char* end = nullptr;
            tick = std::strtoull(cursor, &end, 10);
            if (end == cursor) break;
            cursor = end;
            ++fields;
        }
        if (fields < 4) return false;
        const auto& [user, nice, system, idle, iowait, irq, softirq, steal] = ticks;
        *idleTime = Units(idle + iowait);
        *kernelTime = Units(system + irq + softirq + steal + idle + iowait);
        *userTime = Units(user + nice);
        return true;
    }

    bool ProcessTimes(std::int64_t* kernel, std::int64_t* user) override {
        rusage usage{};
        if (::getrusage(RUSAGE_SELF, &usage) != 0) return false;
        auto unitsOf = [](const timeval& time) {
            return static_cast<std::int64_t>(time.tv_sec) * kUnitsPerSecond + time.tv_usec * 10;
        };
        *kernel = unitsOf(usage.ru_stime);
        *user = unitsOf(usage.ru_utime);
        return true;
    }

  private:
    std::int64_t Units(std::uint64_t ticks) const {
        const auto hz = static_cast<std::uint64_t>(ticksPerSecond_);
        constexpr auto kUnits = static_cast<std::uint64_t>(kUnitsPerSecond);
        // Whole seconds first, so that large tick counts cannot overflow the multiplication.
        return static_cast<std::int64_t>(ticks / hz * kUnits + ticks % hz * kUnits / hz);
    }

    posix::UniqueFd procStat_ = posix::OpenRetrying("/proc/stat", O_RDONLY);
    long ticksPerSecond_ = ::sysconf(_SC_CLK_TCK);
};

}  // namespace

std::unique_ptr<CpuClock> OpenCpuClock() {
    return std::make_unique<ProcCpuClock>();
}

}  // namespace zemuser::platform
