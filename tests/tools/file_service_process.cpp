#include "file_service_process.h"

#include <signal.h>

#include <regex>
#include <stdexcept>
#include <thread>

namespace tools_testing {

FileServiceProcess::FileServiceProcess(
    const std::vector<std::string>& options,
    const std::function<void(const std::string& root)>& prepareRoot) {
    if (prepareRoot) prepareRoot(root_.path());
    std::vector<std::string> argv{FileServiceProgram(), "--root", root_.path(), "--port", "0"};
    argv.insert(argv.end(), options.begin(), options.end());
    program_ = std::make_unique<RunningProgram>(argv);
    const std::regex listening("listening on http://127\\.0\\.0\\.1:([0-9]+)\n");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::smatch match;
    std::string out;
    while (!std::regex_search(out = program_->OutSoFar(), match, listening)) {
        if (std::chrono::steady_clock::now() > deadline) {
            throw std::runtime_error("the file service did not start: " + out);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    port_ = static_cast<std::uint16_t>(std::stoi(match[1]));
    url_ = "http://127.0.0.1:" + std::to_string(port_) + "/files";
}

ProgramResult FileServiceProcess::Stop() {
    program_->Signal(SIGTERM);
    return program_->Wait(std::chrono::seconds(10));
}

}  // namespace tools_testing
