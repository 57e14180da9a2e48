#include "support/child_process.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

#include "support/real_servers.h"

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

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& logFile,
                           const std::string& errFile, const std::string& input) {
    // Everything the child needs is prepared before fork: after it, only exec-safe calls.
    std::vector<char*> arguments;
    for (const auto& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
    arguments.push_back(nullptr);
    const int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC;
    const int log = open(logFile.c_str(), flags, 0644);
    const int err = errFile.empty() ? log : open(errFile.c_str(), flags, 0644);
    const int in = open(input.c_str(), O_RDONLY | O_CLOEXEC);
    const pid_t parent = getpid();
    if (log >= 0 && err >= 0 && in >= 0) pid_ = fork();
    if (pid_ == 0) {
        // A test process that dies without running destructors takes its servers with it (the
        // signal follows the forking thread, so servers belong to long-lived threads).
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(1);
        // Stop and Ctrl-C must reach the program even when the test runner ignores them.
        for (int signal : {SIGINT, SIGTERM, SIGPIPE}) ::signal(signal, SIG_DFL);
        const sigset_t none{};
        sigprocmask(SIG_SETMASK, &none, nullptr);
        dup2(in, STDIN_FILENO);
        dup2(log, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        close_range(3, ~0U, 0);  // our sockets must not keep connections open in the program
        execv(arguments[0], arguments.data());
        _exit(127);
    }
    for (int fd : {log, in, err == log ? -1 : err}) {
        if (fd >= 0) close(fd);
    }
    if (pid_ < 0) throw std::runtime_error("cannot start " + argv[0] + " logging to " + logFile);
}

bool ChildProcess::Running() {
    int status = 0;
    const pid_t reaped = pid_ > 0 ? waitpid(pid_, &status, WNOHANG) : 0;
    if (reaped != 0) {  // exited, or not ours
        exitCode_ = reaped > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        pid_ = -1;
    }
    return pid_ > 0;
}

int ChildProcess::Stop(int signal, std::chrono::milliseconds grace) {
    if (!Running()) return exitCode_;
    if (signal != 0) kill(pid_, signal);
    if (!PollUntil([this] { return !Running(); }, grace, std::chrono::milliseconds(10))) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = exitCode_ = -1;
    }
    return exitCode_;
}

ProgramResult RunProgram(const std::vector<std::string>& argv, const std::string& input,
                         std::chrono::seconds limit) {
    const TempDir folder;
    const int exitCode =
        ChildProcess(argv, folder.File("out"), folder.File("err"), input).Stop(0, limit);
    return {exitCode, ReadFileBytes(folder.File("out")), ReadFileBytes(folder.File("err"))};
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
    const ProgramResult result = RunProgram({"/bin/sh", "-c", commandLine});
    if (result.exitCode == 0) return result.out;
    return result.out + result.err + "exit status " + std::to_string(result.exitCode) + "\n";
}

}  // namespace testing_support
