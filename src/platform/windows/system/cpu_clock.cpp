// The clocks and processor times of the CPU usage meter, from the kernel. GetSystemTimes is
// looked up at run time, as systems before it lack it; without it the machine's times are 0.
#include <windows.h>

#include "platform/system.h"

namespace zemuser::platform {
namespace {

using GetSystemTimesFunction = BOOL(WINAPI*)(FILETIME*, FILETIME*, FILETIME*);

std::int64_t Units(const FILETIME& time) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                     time.dwLowDateTime);
}

class KernelCpuClock final : public CpuClock {
  public:
    KernelCpuClock() : kernel_(LoadLibraryA("Kernel32.dll")) {
        if (kernel_ == nullptr) return;
        // Through a plain function pointer, which may stand for any other.
        getSystemTimes_ = reinterpret_cast<GetSystemTimesFunction>(
            reinterpret_cast<void (*)()>(GetProcAddress(kernel_, "GetSystemTimes")));
        if (getSystemTimes_ == nullptr) {
            FreeLibrary(kernel_);
            kernel_ = nullptr;
        }
    }
    ~KernelCpuClock() override {
        if (kernel_ != nullptr) FreeLibrary(kernel_);
    }
    KernelCpuClock(const KernelCpuClock&) = delete;
    KernelCpuClock& operator=(const KernelCpuClock&) = delete;

    std::uint32_t TickCount() override { return GetTickCount(); }

    std::int64_t SystemTime() override {
        FILETIME now{};
        GetSystemTimeAsFileTime(&now);
        return Units(now);
    }

    bool SystemTimes(std::int64_t* idle, std::int64_t* kernel, std::int64_t* user) override {
        FILETIME idleTime{}, kernelTime{}, userTime{};
        const bool done =
            getSystemTimes_ == nullptr || getSystemTimes_(&idleTime, &kernelTime, &userTime);
        *idle = Units(idleTime);
        *kernel = Units(kernelTime);
        *user = Units(userTime);
        return done;
    }

    bool ProcessTimes(std::int64_t* kernel, std::int64_t* user) override {
        FILETIME creation{}, exit{}, kernelTime{}, userTime{};
        const bool done =
            GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernelTime, &userTime);
        *kernel = Units(kernelTime);
        *user = Units(userTime);
        return done;
    }

  private:
    HMODULE kernel_;
    GetSystemTimesFunction getSystemTimes_ = nullptr;
};

}  // namespace

std::unique_ptr<CpuClock> OpenCpuClock() {
    return std::make_unique<KernelCpuClock>();
}

}  // namespace zemuser::platform
