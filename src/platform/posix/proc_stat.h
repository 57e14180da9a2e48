// The machine's processor times from the first line of /proc/stat, in the shape of Windows:
// the kernel time includes the idle time.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace platform::posix {

struct SystemCpuTicks {
    std::uint64_t idle = 0;    // idle + iowait
    std::uint64_t kernel = 0;  // system + irq + softirq + steal + idle
    std::uint64_t user = 0;    // user + nice
};

// Parses the "cpu ..." line at the start of `procStat`, in clock ticks; nothing when the text
// does not start with it or has fewer than the four classic fields.
std::optional<SystemCpuTicks> ParseProcStatCpuLine(std::string_view procStat);

// Clock ticks (at `ticksPerSecond`) in the 100-nanosecond units of FILETIME.
std::uint64_t TicksToFileTimeUnits(std::uint64_t ticks, std::uint64_t ticksPerSecond);

}  // namespace platform::posix
