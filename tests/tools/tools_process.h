// The tools as child processes: run with their output and exit status kept, and the file
// service on a free loopback port over a fresh folder.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/real_servers.h"

namespace tools_testing {

struct ProgramResult {
    int exitCode = -1;  // -1 when it did not exit normally
    std::string out, err;
};

// A started program, killed at the end unless it was waited for.
class RunningProgram {
  public:
    explicit RunningProgram(std::vector<std::string> argv, const std::string& input = "/dev/null") {
        std::vector<char*> arguments;
        for (auto& argument : argv) arguments.push_back(argument.data());
        arguments.push_back(nullptr);
        const std::string out = folder_.File("out"), err = folder_.File("err");
        pid_ = fork();
        if (pid_ == 0) {  // only async-signal-safe calls until exec
            // Ctrl-C must reach the program even when the test runner ignores SIGINT.
            for (int signal : {SIGINT, SIGTERM, SIGPIPE}) ::signal(signal, SIG_DFL);
            const sigset_t none{};
            sigprocmask(SIG_SETMASK, &none, nullptr);
            dup2(open(input.c_str(), O_RDONLY), STDIN_FILENO);
            dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
            dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
            execv(arguments[0], arguments.data());
            _exit(127);
        }
        if (pid_ < 0) throw std::runtime_error("cannot start " + argv[0]);
    }
    ~RunningProgram() {
        if (pid_ > 0 && kill(pid_, SIGKILL) == 0) waitpid(pid_, nullptr, 0);
    }
    void Interrupt() const { kill(pid_, SIGINT); }
    // A program still running after `timeout` is killed.
    ProgramResult Wait(std::chrono::seconds timeout = std::chrono::seconds(30)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        int status = 0;
        pid_t reaped = 0;
        while ((reaped = waitpid(pid_, &status, WNOHANG)) == 0) {
            if (std::chrono::steady_clock::now() > deadline) kill(pid_, SIGKILL);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = -1;
        return {reaped > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                testing_support::ReadFileBytes(folder_.File("out")),
                testing_support::ReadFileBytes(folder_.File("err"))};
    }

  private:
    testing_support::TempDir folder_;
    pid_t pid_ = -1;
};

// Listening once constructed; `prepareRoot` may fill its folder first.
struct FileServiceProcess {
    explicit FileServiceProcess(const std::vector<std::string>& options = {},
                                const std::function<void(const std::string&)>& prepareRoot = {}) {
        if (prepareRoot) prepareRoot(root.path());
        std::vector<std::string> argv{ZEMUSER_FILE_SERVICE_PROGRAM, "--root", root.path(), "--port",
                                      std::to_string(port)};
        argv.insert(argv.end(), options.begin(), options.end());
        process = testing_support::ChildProcess(argv, log.File("log"));
        if (!testing_support::WaitUntilAccepting(port, process)) {
            throw std::runtime_error("the file service did not start");
        }
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port) + "/files"; }
    // Stops it as a service manager would; gives all it wrote.
    std::string Stop() {
        process.Stop(SIGTERM);
        return testing_support::ReadFileBytes(log.File("log"));
    }

    testing_support::TempDir root, log;
    const std::uint16_t port = testing_support::FreeLoopbackPort();
    testing_support::ChildProcess process;
};

}  // namespace tools_testing
