#include "program_run.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

extern char** environ;

namespace tools_testing {

std::string HostProgram() {
    return ZEMUSER_HOST_PROGRAM;
}
std::string FileServiceProgram() {
    return ZEMUSER_FILE_SERVICE_PROGRAM;
}

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
    // The program must see Ctrl-C as a terminal user's would, even when the test runner was
    // started in the background with SIGINT ignored.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    int error = posix_spawn(&pid, arguments[0], &actions, &attributes, arguments.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) throw std::runtime_error("cannot start " + argv[0]);
    pid_ = pid;
}

RunningProgram::~RunningProgram() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

void RunningProgram::Signal(int signal) const {
    if (pid_ > 0) kill(pid_, signal);
}

std::string RunningProgram::OutSoFar() const {
    return testing_support::ReadFileBytes(folder_.File("out"));
}

ProgramResult RunningProgram::Wait(std::chrono::milliseconds timeout) {
    ProgramResult result;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (pid_ > 0) {
        pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            pid_ = -1;
            if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    result.out = testing_support::ReadFileBytes(folder_.File("out"));
    result.err = testing_support::ReadFileBytes(folder_.File("err"));
    return result;
}

ProgramResult RunProgram(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                         const std::string& input) {
    RunningProgram program(argv, input);
    return program.Wait(timeout);
}

}  // namespace tools_testing
