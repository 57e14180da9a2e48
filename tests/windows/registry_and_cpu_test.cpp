// The two exports' effects on the machine itself: the user's HTTP/1.1 settings held off in the
// real registry while sessions live (read back with Wine's own reg.exe), and the CPU meter on
// the real processor times.
#include <chrono>
#include <cstdio>
#include <thread>

#include "wine_test_support.h"

namespace wine_testing {
namespace {

// The value as reg.exe shows it ("0x1"), or "" when reg.exe finds none.
std::string RegistryValue(const std::string& name) {
    std::string command =
        "reg query \"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\" "
        "/v " +
        name + " 2>nul";
    FILE* pipe = _popen(command.c_str(), "r");
    if (pipe == nullptr) return "no reg.exe";
    std::string found;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        char valueName[128] = {};
        char type[32] = {};
        char data[64] = {};
        if (std::sscanf(line, " %127s %31s %63s", valueName, type, data) == 3 &&
            name == valueName && std::string(type) == "REG_DWORD") {
            found = data;
        }
    }
    _pclose(pipe);
    return found;
}

struct Http11Settings {
    std::string enable;
    std::string proxy;
    bool operator==(const Http11Settings& other) const {
        return enable == other.enable && proxy == other.proxy;
    }
};

std::ostream& operator<<(std::ostream& out, const Http11Settings& settings) {
    return out << "EnableHttp1_1=" << settings.enable << " ProxyHttp1.1=" << settings.proxy;
}

Http11Settings CurrentSettings() {
    return {RegistryValue("EnableHttp1_1"), RegistryValue("ProxyHttp1.1")};
}

// run-wine-tests.sh sets both to 1 before the program starts; the library read them at the
// first session of the process.
const Http11Settings kUsersSettings{"0x1", "0x1"};
const Http11Settings kHeldOff{"0x0", "0x0"};

TEST(WineRegistry, Http11SettingsAreOffWhileASessionLivesAndRestoredAfter) {
    EXPECT_EQ(CurrentSettings(), kUsersSettings) << "before any handle";

    Handle first = BeginHandle();
    EXPECT_EQ(CurrentSettings(), kHeldOff) << "one handle alive";
    Handle second = BeginHandle();
    first.reset();
    EXPECT_EQ(CurrentSettings(), kHeldOff) << "the second handle still alive";

    // A fetch on its own session comes and goes while the handle lives.
    std::string url = NginxFile("registry.txt", "x");
    std::int32_t status = 0;
    EXPECT_EQ(ZEMUrlGet(url.c_str(), &status, nullptr, 0, nullptr), 1);
    EXPECT_EQ(CurrentSettings(), kHeldOff) << "after a temporary session";

    second.reset();
    EXPECT_EQ(CurrentSettings(), kUsersSettings) << "after the last handle";

    // The next first session writes 0 again.
    Handle again = BeginHandle();
    EXPECT_EQ(CurrentSettings(), kHeldOff) << "a later handle";
}

TEST(WineCpuUsage, MeterSamplesTheRealProcessorTimes) {
    std::int32_t process = -1;
    EXPECT_EQ(GetCPUUsage(&process), 0) << "the first call creates the meter";
    EXPECT_EQ(process, 0);
    process = -1;
    EXPECT_EQ(GetCPUUsage(&process), 0) << "within 200 ms: no sample";
    EXPECT_EQ(process, 0);

    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    process = -1;
    EXPECT_EQ(GetCPUUsage(&process), 0) << "the baseline";
    EXPECT_EQ(process, 0);

    // Keep one processor busy for a while: the process's share must show.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(600);
    volatile std::uint64_t spin = 0;
    while (std::chrono::steady_clock::now() < end) spin = spin + 1;
    process = -1;
    std::int32_t machine = GetCPUUsage(&process);
    EXPECT_GT(process, 0);
    EXPECT_LE(process, 100);
    EXPECT_LE(machine, 100);
    // The process's time is part of the machine's busy time; a little slack for the clocks'
    // different granularity.
    EXPECT_GE(machine + 5, process);

    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    machine = GetCPUUsage(nullptr);
    EXPECT_GE(machine, 0);
    EXPECT_LE(machine, 100);
}

}  // namespace
}  // namespace wine_testing
