#include "tools_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

extern char** environ;

namespace tools_testing {

RunningProgram::RunningProgram(const std::vector<std::string>& argv, const std::string& input) {
    std::vector<char*> arguments;
    for (const auto& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
    arguments.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, folder_.File("out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, folder_.File("err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    // Ctrl-C must reach the program as a terminal user's would, even when the test runner was
    // started in the background with SIGINT ignored or ignores SIGPIPE itself.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int error =
        posix_spawn(&pid_, arguments[0], &actions, &attributes, arguments.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) throw std::runtime_error("cannot start " + argv[0]);
}

RunningProgram::~RunningProgram() {
    if (pid_ > 0 && kill(pid_, SIGKILL) == 0) waitpid(pid_, nullptr, 0);
}

void RunningProgram::Signal(int signal) const {
    if (pid_ > 0) kill(pid_, signal);  // never -1: that would be every process
}

std::string RunningProgram::AwaitOut(const std::string& text) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        const std::string out = testing_support::ReadFileBytes(folder_.File("out"));
        if (out.find(text) != std::string::npos) return out;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "";
}

ProgramResult RunningProgram::Wait(std::chrono::milliseconds timeout) {
    ProgramResult result;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    pid_t reaped = 0;
    while (pid_ > 0 && (reaped = waitpid(pid_, &status, WNOHANG)) == 0) {
        if (std::chrono::steady_clock::now() > deadline) kill(pid_, SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (reaped > 0 && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    pid_ = -1;
    result.out = testing_support::ReadFileBytes(folder_.File("out"));
    result.err = testing_support::ReadFileBytes(folder_.File("err"));
    return result;
}

FileServiceProcess::FileServiceProcess(const std::vector<std::string>& options,
                                       const std::function<void(const std::string&)>& prepareRoot) {
    if (prepareRoot) prepareRoot(root_.path());
    std::vector<std::string> argv{FileServiceProgram(), "--root", root_.path(), "--port", "0"};
    argv.insert(argv.end(), options.begin(), options.end());
    program_ = std::make_unique<RunningProgram>(argv);
    const std::string listening = "listening on http://127.0.0.1:";
    const std::string out = program_->AwaitOut("\n");
    const std::size_t at = out.find(listening);
    if (at == std::string::npos) throw std::runtime_error("the file service did not start");
    port_ = std::stoi(out.substr(at + listening.size()));
    url_ = "http://127.0.0.1:" + std::to_string(port_) + "/files";
}

ProgramResult FileServiceProcess::Stop() {
    program_->Signal(SIGTERM);
    return program_->Wait(std::chrono::seconds(10));
}

}  // namespace tools_testing
