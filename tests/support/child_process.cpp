#include "support/child_process.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <thread>

namespace testing_support {
namespace {

// Polls `done` every `step` until it holds or `limit` has passed; false on time-out.
bool PollUntil(const std::function<bool()>& done, std::chrono::milliseconds limit,
               std::chrono::milliseconds step) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(step);
    }
    return true;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& logFile) {
    // Everything the child needs is prepared before fork: after it, only exec-safe calls.
    std::vector<char*> arguments;
    for (const auto& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
    arguments.push_back(nullptr);
    const int log = open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t parent = getpid();
    if (log >= 0 && devNull >= 0) pid_ = fork();
    if (pid_ == 0) {
        // A test process that dies without running destructors takes its servers with it (the
        // signal follows the forking thread, so servers belong to long-lived threads).
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(1);
        dup2(devNull, STDIN_FILENO);
        dup2(log, STDOUT_FILENO);
        dup2(log, STDERR_FILENO);
        close_range(3, ~0U, 0);  // our sockets must not keep connections open in the server
        execv(arguments[0], arguments.data());
        _exit(127);
    }
    if (log >= 0) close(log);
    if (devNull >= 0) close(devNull);
    if (pid_ < 0) throw std::runtime_error("cannot start " + argv[0] + " logging to " + logFile);
}

bool ChildProcess::Running() {
    if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) != 0) pid_ = -1;  // exited, or not ours
    return pid_ > 0;
}

void ChildProcess::Stop(int signal, std::chrono::milliseconds grace) {
    if (!Running()) return;
    kill(pid_, signal);
    if (PollUntil([this] { return !Running(); }, grace, std::chrono::milliseconds(10))) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::string ChildEnd::Describe() const {
    if (timedOut) return "the child was still running at its time limit";
    if (exited) return "the child exited with " + std::to_string(code);
    return "the child was ended by signal " + std::to_string(signal);
}

ChildEnd RunInChild(const std::function<int()>& body, const std::function<void()>& whileRunning,
                    std::chrono::seconds limit) {
    ChildEnd end;
    const pid_t child = fork();
    if (child < 0) return end;
    if (child == 0) _exit(body());
    if (whileRunning) whileRunning();
    int status = 0;
    end.timedOut = !PollUntil([&] { return waitpid(child, &status, WNOHANG) == child; }, limit,
                              std::chrono::milliseconds(20));
    if (end.timedOut) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    end.exited = WIFEXITED(status) && !end.timedOut;
    if (WIFEXITED(status)) end.code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) end.signal = WTERMSIG(status);
    return end;
}

std::string RunCommand(const std::string& commandLine) {
    std::string output;
    FILE* pipe = popen(commandLine.c_str(), "r");
    if (pipe == nullptr) return "popen failed";
    char line[256];
    while (std::fgets(line, sizeof line, pipe) != nullptr) output += line;
    const int status = pclose(pipe);
    if (status != 0) output += "exit status " + std::to_string(status) + "\n";
    return output;
}

}  // namespace testing_support
