#include "support/child_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <utility>

namespace testing_support {

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& logFile) {
    // Everything the child needs is prepared before fork: after it, only exec-safe calls.
    std::vector<char*> arguments;
    for (const auto& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
    arguments.push_back(nullptr);
    const int log = open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t parent = getpid();
    if (log < 0 || devNull < 0) {
        if (log >= 0) close(log);
        if (devNull >= 0) close(devNull);
        throw std::runtime_error("cannot open " + logFile);
    }
    pid_ = fork();
    if (pid_ == 0) {
        // A test process that dies without running destructors takes its servers with it.
        // (The signal follows the forking thread, so servers belong to long-lived threads.)
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(1);
        dup2(devNull, STDIN_FILENO);
        dup2(log, STDOUT_FILENO);
        dup2(log, STDERR_FILENO);
        // Sockets of the test process must not live on in the server and keep connections open.
        close_range(3, ~0U, 0);
        execv(arguments[0], arguments.data());
        _exit(127);
    }
    const int forkError = errno;
    close(log);
    close(devNull);
    if (pid_ < 0) throw std::runtime_error(std::string("fork failed: ") + strerror(forkError));
}

ChildProcess::~ChildProcess() {
    Stop(SIGKILL, std::chrono::seconds(5));
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept : pid_(std::exchange(other.pid_, -1)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        Stop(SIGKILL, std::chrono::seconds(5));
        pid_ = std::exchange(other.pid_, -1);
    }
    return *this;
}

bool ChildProcess::Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_ || (done < 0 && errno == ECHILD)) {
        pid_ = -1;
        return false;
    }
    return true;
}

void ChildProcess::Stop(int signal, std::chrono::milliseconds grace) {
    if (!Running()) return;
    kill(pid_, signal);
    const auto deadline = std::chrono::steady_clock::now() + grace;
    while (Running() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (Running()) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

bool WaitUntilAccepting(std::uint16_t port, ChildProcess& process,
                        std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    while (process.Running()) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool accepted =
            fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        if (fd >= 0) close(fd);
        if (accepted) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
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
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) break;
        if (std::chrono::steady_clock::now() > deadline) {
            end.timedOut = true;
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // a poll of the exit
    }
    if (WIFEXITED(status)) {
        end.exited = !end.timedOut;
        end.code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        end.signal = WTERMSIG(status);
    }
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
