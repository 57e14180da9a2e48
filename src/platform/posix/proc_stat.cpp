#include "platform/posix/proc_stat.h"

#include <array>
#include <cctype>

namespace platform::posix {

std::optional<SystemCpuTicks> ParseProcStatCpuLine(std::string_view procStat) {
    constexpr std::string_view kPrefix = "cpu ";
    if (procStat.substr(0, kPrefix.size()) != kPrefix) return std::nullopt;
    std::string_view line = procStat.substr(kPrefix.size());
    line = line.substr(0, line.find('\n'));

    // user nice system idle iowait irq softirq steal; older kernels stop after idle.
    std::array<std::uint64_t, 8> fields{};
    std::size_t count = 0;
    std::size_t position = 0;
    while (count < fields.size()) {
        while (position < line.size() && line[position] == ' ') ++position;
        if (position == line.size() || !std::isdigit(static_cast<unsigned char>(line[position])))
            break;
        std::uint64_t value = 0;
        while (position < line.size() && std::isdigit(static_cast<unsigned char>(line[position]))) {
            value = value * 10 + static_cast<std::uint64_t>(line[position] - '0');
            ++position;
        }
        fields[count++] = value;
    }
    if (count < 4) return std::nullopt;

    const auto& [user, nice, system, idle, iowait, irq, softirq, steal] = fields;
    SystemCpuTicks ticks;
    ticks.idle = idle + iowait;
    ticks.kernel = system + irq + softirq + steal + ticks.idle;
    ticks.user = user + nice;
    return ticks;
}

std::uint64_t TicksToFileTimeUnits(std::uint64_t ticks, std::uint64_t ticksPerSecond) {
    constexpr std::uint64_t kUnitsPerSecond = 10'000'000;
    if (ticksPerSecond == 0) return 0;
    // Whole seconds first, so that large tick counts cannot overflow the multiplication.
    return ticks / ticksPerSecond * kUnitsPerSecond +
           ticks % ticksPerSecond * kUnitsPerSecond / ticksPerSecond;
}

}  // namespace platform::posix
