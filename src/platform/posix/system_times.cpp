// Clocks and processor times in the units of Windows: FILETIME counts 100 ns since
// 1601-01-01 UTC, GetTickCount milliseconds.
#include <fcntl.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>

#include "platform/posix/error_codes.h"
#include "platform/posix/kernel32.h"
#include "platform/posix/proc_stat.h"
#include "platform/posix/unique_fd.h"

namespace {

using platform::posix::SetLastErrorFromErrno;

constexpr std::uint64_t kUnitsPerSecond = 10'000'000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::uint64_t kEpochDifferenceSeconds = 11'644'473'600;

void Store(FILETIME* target, std::uint64_t units) {
    if (target == nullptr) return;
    target->dwLowDateTime = static_cast<DWORD>(units & 0xFFFFFFFFu);
    target->dwHighDateTime = static_cast<DWORD>(units >> 32);
}

std::uint64_t UnitsOf(const timeval& time) {
    return static_cast<std::uint64_t>(time.tv_sec) * kUnitsPerSecond +
           static_cast<std::uint64_t>(time.tv_usec) * 10;
}

// The first line of /proc/stat is all that is needed; it fits easily in one read.
bool ReadProcStatStart(std::array<char, 512>& buffer, std::size_t& length) {
    platform::posix::UniqueFd file(::open("/proc/stat", O_RDONLY | O_CLOEXEC));
    if (!file.valid()) return false;
    ssize_t count;
    do {
        count = ::read(file.get(), buffer.data(), buffer.size());
    } while (count < 0 && errno == EINTR);
    if (count < 0) return false;
    length = static_cast<std::size_t>(count);
    return true;
}

// Marks the process pseudo handle; the value Windows uses.
const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

}  // namespace

DWORD GetTickCount() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const auto milliseconds = static_cast<std::uint64_t>(now.tv_sec) * 1000 +
                              static_cast<std::uint64_t>(now.tv_nsec) / 1'000'000;
    return static_cast<DWORD>(milliseconds);  // wraps after 49.7 days, as on Windows
}

void GetSystemTimeAsFileTime(FILETIME* systemTime) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    Store(systemTime,
          (static_cast<std::uint64_t>(now.tv_sec) + kEpochDifferenceSeconds) * kUnitsPerSecond +
              static_cast<std::uint64_t>(now.tv_nsec) / 100);
}

BOOL GetSystemTimes(FILETIME* idleTime, FILETIME* kernelTime, FILETIME* userTime) {
    std::array<char, 512> buffer{};
    std::size_t length = 0;
    if (!ReadProcStatStart(buffer, length)) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    const auto ticks = platform::posix::ParseProcStatCpuLine({buffer.data(), length});
    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    if (!ticks || ticksPerSecond <= 0) {
        SetLastError(platform::posix::ERROR_GEN_FAILURE);
        return FALSE;
    }
    const auto hz = static_cast<std::uint64_t>(ticksPerSecond);
    Store(idleTime, platform::posix::TicksToFileTimeUnits(ticks->idle, hz));
    Store(kernelTime, platform::posix::TicksToFileTimeUnits(ticks->kernel, hz));
    Store(userTime, platform::posix::TicksToFileTimeUnits(ticks->user, hz));
    return TRUE;
}

HANDLE GetCurrentProcess() {
    return kCurrentProcess;
}

BOOL GetProcessTimes(HANDLE process, FILETIME* creationTime, FILETIME* exitTime,
                     FILETIME* kernelTime, FILETIME* userTime) {
    if (process != kCurrentProcess) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    rusage usage{};
    if (::getrusage(RUSAGE_SELF, &usage) != 0) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    // Nobody reads the creation and exit times; a running process has no exit time anyway.
    Store(creationTime, 0);
    Store(exitTime, 0);
    Store(kernelTime, UnitsOf(usage.ru_stime));
    Store(userTime, UnitsOf(usage.ru_utime));
    return TRUE;
}
