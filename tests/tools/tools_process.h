// The tools as child processes: output captured, exit status kept, and the file service on a
// free loopback port over a fresh folder.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/real_servers.h"

namespace tools_testing {

inline const std::string kHostProgram = ZEMUSER_HOST_PROGRAM;
inline const std::string kFileServiceProgram = ZEMUSER_FILE_SERVICE_PROGRAM;

struct ProgramResult {
    int exitCode = -1;  // -1 when it did not exit normally
    std::string out, err;
};

// A started program, killed at the end unless it was waited for.
class RunningProgram {
  public:
    explicit RunningProgram(const std::vector<std::string>& argv,
                            const std::string& input = "/dev/null") {
        std::vector<char*> arguments;
        for (const auto& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
        arguments.push_back(nullptr);
        const std::string out = folder_.File("out"), err = folder_.File("err");
        testing_support::WriteFileBytes(out, "");  // readable before the child opens it
        pid_ = fork();
        if (pid_ == 0) {  // only async-signal-safe calls until exec
            // Ctrl-C must reach the program as a terminal user's would, even when the test
            // runner was started in the background with SIGINT ignored.
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

    void Signal(int signal) const {
        if (pid_ > 0) kill(pid_, signal);  // never -1: that would be every process
    }
    std::string Out() const { return testing_support::ReadFileBytes(folder_.File("out")); }
    // Waits for the exit; a program still running after `timeout` is killed (exit code -1).
    ProgramResult Wait(std::chrono::seconds timeout = std::chrono::seconds(30)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        int status = 0;
        pid_t reaped = 0;
        while (pid_ > 0 && (reaped = waitpid(pid_, &status, WNOHANG)) == 0) {
            if (std::chrono::steady_clock::now() > deadline) kill(pid_, SIGKILL);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = -1;
        return {reaped > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1, Out(),
                testing_support::ReadFileBytes(folder_.File("err"))};
    }

  private:
    testing_support::TempDir folder_;
    pid_t pid_ = -1;
};

class FileServiceProcess {
  public:
    // Returns once it listens, throws when it does not; `prepareRoot` may fill its folder first.
    explicit FileServiceProcess(const std::vector<std::string>& options = {},
                                const std::function<void(const std::string&)>& prepareRoot = {}) {
        if (prepareRoot) prepareRoot(root_.path());
        std::vector<std::string> argv{kFileServiceProgram, "--root", root_.path(), "--port", "0"};
        argv.insert(argv.end(), options.begin(), options.end());
        program_ = std::make_unique<RunningProgram>(argv);
        // Its first line says where it listens; it writes nothing before.
        const std::string listening = "listening on http://127.0.0.1:";
        std::string out;
        for (int i = 0; i < 1000 && (out = program_->Out()).find('\n') == std::string::npos; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (out.find(listening) != 0) throw std::runtime_error("the file service did not start");
        port_ = std::stoi(out.substr(listening.size()));
        url_ = "http://127.0.0.1:" + std::to_string(port_) + "/files";
    }
    const std::string& root() const { return root_.path(); }
    const std::string& url() const { return url_; }  // "http://127.0.0.1:<port>/files"
    int port() const { return port_; }
    ProgramResult Stop() {
        program_->Signal(SIGTERM);
        return program_->Wait(std::chrono::seconds(10));
    }

  private:
    testing_support::TempDir root_;
    std::unique_ptr<RunningProgram> program_;
    std::string url_;
    int port_ = 0;
};

}  // namespace tools_testing
