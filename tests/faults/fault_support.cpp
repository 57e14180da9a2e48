#include "fault_support.h"

#include <linux/capability.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "session/http_version_override.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace fault_testing {
namespace {

// Every session of the suite writes the user's HTTP/1.1 settings; they are kept in the build
// tree, never in the real user's store. Set before any test runs.
struct SuiteEnvironment {
    SuiteEnvironment() {
        setenv("ZEMUSER_SETTINGS_DIR", ZEMUSER_BINARY_DIR "/tests/fault_tests_settings", 0);
    }
};
const SuiteEnvironment g_suiteEnvironment;

}  // namespace

ScriptedServer::Script JudgeUpload(std::string expectedBody) {
    return [expectedBody](ScriptedConnection& connection) {
        const std::string request = connection.ReadRequest();
        if (request.empty()) return;
        const std::string body = testing_support::ParseRequest(request).body;
        connection.Send(HttpResponse(200, body == expectedBody ? "OK" : "INCOMPLETE"));
    };
}

std::int32_t LiveSessions() {
    return zemuser::HttpVersionOverride::Instance().Count();
}

bool NoLeaksSoFar() {
#if defined(__SANITIZE_ADDRESS__)
    return __lsan_do_recoverable_leak_check() == 0;
#else
    return true;
#endif
}

bool DropFileOverride() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    for (int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
        data[capability / 32].effective &= ~(1u << (capability % 32));
    }
    return syscall(SYS_capset, &header, data) == 0;
}

long MillisSince(std::chrono::steady_clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count());
}

}  // namespace fault_testing
