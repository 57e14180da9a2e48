// A fresh process for the tests of the HTTP/1.1 settings override, whose first use reads the
// user's values once per process. Runs the commands given as arguments and prints what the
// settings store holds:
//   new | del | print | set NAME VALUE | storm THREADS ROUNDS | exit
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/system.h"
#include "session/http_version_override.h"
#include "session/transfer_session.h"

namespace {

using namespace zemuser;

constexpr const char kKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

std::string ReadValue(const char* name) {
    auto key = zemuser::platform::OpenUserSettingsKey(kKey);
    std::uint32_t value = 0;
    if (!key) return "?";
    return key->ReadNumber(name, &value) ? std::to_string(value) : "absent";
}

void SetValue(const char* name, std::uint32_t value) {
    if (auto key = zemuser::platform::OpenUserSettingsKey(kKey)) key->WriteNumber(name, value);
}

void Storm(int threads, int rounds) {
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([rounds] {
            for (int i = 0; i < rounds; ++i) {
                TransferSession session;
            }
        });
    }
    for (auto& worker : workers) worker.join();
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::unique_ptr<TransferSession>> sessions;
    for (int i = 1; i < argc; ++i) {
        std::string command = argv[i];
        if (command == "new") {
            sessions.push_back(std::make_unique<TransferSession>());
        } else if (command == "del") {
            if (!sessions.empty()) sessions.erase(sessions.begin());
        } else if (command == "print") {
            std::printf("EnableHttp1_1=%s ProxyHttp1.1=%s\n", ReadValue("EnableHttp1_1").c_str(),
                        ReadValue("ProxyHttp1.1").c_str());
        } else if (command == "count") {
            std::printf("count=%d\n", HttpVersionOverride::Instance().Count());
        } else if (command == "set" && i + 2 < argc) {
            SetValue(argv[i + 1],
                     static_cast<std::uint32_t>(std::strtoul(argv[i + 2], nullptr, 10)));
            i += 2;
        } else if (command == "storm" && i + 2 < argc) {
            Storm(std::atoi(argv[i + 1]), std::atoi(argv[i + 2]));
            i += 2;
        } else if (command == "exit") {
            std::fflush(stdout);
            // Leaves the sessions alive: only the exit-time step restores the values.
            std::exit(0);
        }
        std::fflush(stdout);
    }
    return 0;
}
