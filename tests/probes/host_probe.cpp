// A fresh host process (the library reads the user's HTTP/1.1 settings once per process). Runs
// its arguments: print | begin | end (the oldest) | storm THREADS ROUNDS | exit (handles alive) |
// get-start URL (ZEMUrlGet2 on a thread) | get-wait (prints result, status) | await F | touch F
#include <zemuser.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// The value of a line such as "EnableHttp1_1"=dword:00000000; "absent" when there is none.
std::string ReadValue(const std::string& name) {
    const char* folder = std::getenv("ZEMUSER_SETTINGS_DIR");
    std::ifstream in(std::string(folder != nullptr ? folder : "") +
                     "/HKEY_CURRENT_USER/Software/Microsoft/Windows/CurrentVersion/"
                     "Internet Settings.reg");
    const std::string prefix = "\"" + name + "\"=dword:";
    std::string line, value = "absent";
    while (std::getline(in, line)) {
        if (line.rfind(prefix, 0) == 0 && line.size() == prefix.size() + 8) {
            value = std::to_string(std::stoul(line.substr(prefix.size()), nullptr, 16));
        }
    }
    return value;
}

void Storm(int threads, int rounds) {
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([rounds] {
            for (int i = 0; i < rounds; ++i) ZEMTransferEnd(ZEMTransferBegin());
        });
    }
    for (std::thread& worker : workers) worker.join();
}

void AwaitFile(const std::string& path) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!std::ifstream(path).good() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::deque<TransferHandle> handles;
    std::thread get;
    int32_t result = 0, status = 0;
    char buffer[256];
    for (int i = 1; i < argc; ++i) {
        const std::string command = argv[i];
        const bool hasArgument = i + 1 < argc;
        if (command == "print") {
            std::printf("EnableHttp1_1=%s ProxyHttp1.1=%s\n", ReadValue("EnableHttp1_1").c_str(),
                        ReadValue("ProxyHttp1.1").c_str());
        } else if (command == "storm" && i + 2 < argc) {
            Storm(std::atoi(argv[i + 1]), std::atoi(argv[i + 2]));
            i += 2;
        } else if (command == "exit") {
            std::fflush(stdout);
            std::exit(0);
        } else if (command == "begin") {
            handles.push_back(ZEMTransferBegin());
        } else if (command == "end" && !handles.empty()) {
            ZEMTransferEnd(handles.front());
            handles.pop_front();
        } else if (command == "get-start" && hasArgument && !get.joinable()) {
            const std::string url = argv[++i];
            get = std::thread([&, url] {
                result = ZEMUrlGet2(url.c_str(), &status, buffer, sizeof buffer - 1, nullptr);
            });
        } else if (command == "get-wait" && get.joinable()) {
            get.join();
            std::printf("get=%d status=%d\n", result, status);
        } else if (command == "await" && hasArgument) {
            AwaitFile(argv[++i]);
        } else if (command == "touch" && hasArgument) {
            std::ofstream(argv[++i]).put('\n');
        } else {
            std::printf("unknown command %s\n", command.c_str());
            return 2;
        }
        std::fflush(stdout);
    }
    if (get.joinable()) get.join();
    for (TransferHandle handle : handles) ZEMTransferEnd(handle);
    return 0;
}
