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

#include "platform/platform.h"
#include "session/http_version_override.h"
#include "session/transfer_session.h"

namespace {

constexpr const char kKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

std::string ReadValue(const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return "?";
    DWORD value = 0, type = 0, size = sizeof(value);
    LONG result =
        RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? std::to_string(value) : "absent";
}

void SetValue(const char* name, DWORD value) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_WRITE, &key) != ERROR_SUCCESS) return;
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    RegCloseKey(key);
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
            SetValue(argv[i + 1], static_cast<DWORD>(std::strtoul(argv[i + 2], nullptr, 10)));
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
