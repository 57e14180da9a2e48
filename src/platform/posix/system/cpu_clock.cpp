// The clocks and processor times of the CPU usage meter, in the units of Windows: 100 ns since
// 1601-01-01 UTC for the system time, milliseconds for the tick count. The machine's times come
// from the first line of /proc/stat, shaped as Windows reports them: the kernel time includes
// the idle time.
#include <fcntl.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "platform/posix/system/support.h"
#include "platform/system.h"

namespace zemuser::platform {
namespace {

constexpr std::int64_t kUnitsPerSecond = 10'000'000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kEpochDifferenceSeconds = 11'644'473'600;

struct MachineTicks {
    std::uint64_t idle = 0, kernel = 0, user = 0;
};

// The "cpu" line: user nice system idle iowait irq softirq steal, in clock ticks; older
// kernels stop after idle. `text` is terminated.
std::optional<MachineTicks> ParseCpuLine(const char* text) {
    if (std::strncmp(text, "cpu ", 4) != 0) return std::nullopt;
    std::array<std::uint64_t, 8> fields{};
    std::size_t count = 0;
    for (const char* cursor = text + 4; count < fields.size(); ++count) {
        char* end = nullptr;
        fields[count] = std::strtoull(cursor, &end, 10);  // stops at the next line's name
        if (end == cursor) break;
        cursor = end;
    }
    if (count < 4) return std::nullopt;
    const auto& [user, nice, system, idle, iowait, irq, softirq, steal] = fields;
    MachineTicks ticks;
    ticks.idle = idle + iowait;
    ticks.kernel = system + irq + softirq + steal + ticks.idle;
    ticks.user = user + nice;
    return ticks;
}

std::int64_t UnitsOf(const timeval& time) {
    return static_cast<std::int64_t>(time.tv_sec) * kUnitsPerSecond + time.tv_usec * 10;
}

class ProcCpuClock final : public CpuClock {
  public:
    std::uint32_t TickCount() override {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        // Wraps after 49.7 days, as on Windows.
        return static_cast<std::uint32_t>(static_cast<std::uint64_t>(now.tv_sec) * 1000 +
                                          static_cast<std::uint64_t>(now.tv_nsec) / 1'000'000);
    }

    std::int64_t SystemTime() override {
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        return (now.tv_sec + kEpochDifferenceSeconds) * kUnitsPerSecond + now.tv_nsec / 100;
    }

    bool SystemTimes(std::int64_t* idle, std::int64_t* kernel, std::int64_t* user) override {
        *idle = *kernel = *user = 0;
        if (!procStat_.valid()) return true;  // no /proc: a system without the query
        // Read again from the start of the one open file rather than opened for each sample.
        std::array<char, 512> buffer{};
        ssize_t count;
        do {
            count = ::pread(procStat_.get(), buffer.data(), buffer.size() - 1, 0);
        } while (count < 0 && errno == EINTR);
        const auto ticks = count > 0 ? ParseCpuLine(buffer.data()) : std::nullopt;
        if (!ticks || ticksPerSecond_ <= 0) return false;
        *idle = Units(ticks->idle);
        *kernel = Units(ticks->kernel);
        *user = Units(ticks->user);
        return true;
    }

    bool ProcessTimes(std::int64_t* kernel, std::int64_t* user) override {
        rusage usage{};
        if (::getrusage(RUSAGE_SELF, &usage) != 0) return false;
        *kernel = UnitsOf(usage.ru_stime);
        *user = UnitsOf(usage.ru_utime);
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
