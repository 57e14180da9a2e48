#include "fault_support.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "session/http_version_override.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace fault_testing {
namespace {

// Sessions write the user's HTTP/1.1 settings: they go to the build tree, never to the real
// user's store. Set before any test runs.
const bool g_settingsKeptAside =
    setenv("ZEMUSER_SETTINGS_DIR", ZEMUSER_BINARY_DIR "/tests/fault_tests_settings", 0) == 0;

}  // namespace

ScriptedServer::Script JudgeUpload(std::vector<std::string> accepted) {
    return [accepted](ScriptedConnection& connection) {
        const std::string request = connection.ReadRequest();
        if (request.empty()) return;
        const std::string body = ParseRequest(request).body;
        const bool whole = std::find(accepted.begin(), accepted.end(), body) != accepted.end();
        connection.Send(HttpResponse(200, whole ? "OK" : "INCOMPLETE"));
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

}  // namespace fault_testing
