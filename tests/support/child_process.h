// Child processes of the tests: programs run as our children (so they are reaped when stopped,
// without pid files), forked copies of the test process, and shell command lines.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

class ChildProcess {
  public:
    ChildProcess() = default;  // runs nothing
    // Starts `argv[0]` with stdin from `input` and stdout appended to `logFile`, stderr too
    // unless `errFile` is given.
    ChildProcess(const std::vector<std::string>& argv, const std::string& logFile,
                 const std::string& errFile = "", const std::string& input = "/dev/null");
    ~ChildProcess() { Stop(SIGKILL); }
    ChildProcess(ChildProcess&& other) noexcept { *this = std::move(other); }
    ChildProcess& operator=(ChildProcess&& other) noexcept {  // swaps
        std::swap(pid_, other.pid_);
        std::swap(exitCode_, other.exitCode_);
        return *this;
    }

    bool Running();  // false once it has exited (and then reaped)
    // Sends `signal` (none if 0), waits up to `grace` for the exit, then kills it outright.
    // Gives its exit status, or -1 when it did not exit by itself.
    int Stop(int signal, std::chrono::milliseconds grace = std::chrono::seconds(5));

  private:
    int pid_ = -1;
    int exitCode_ = -1;
};

// Waits until 127.0.0.1:`port` accepts a connection; false when `process` exited first or
// after five seconds.
bool WaitUntilAccepting(std::uint16_t port, ChildProcess& process);

struct ProgramResult {
    int exitCode = -1;  // -1 when it did not exit by itself
    std::string out, err;
};
// Runs `argv[0]` to its end with stdin from `input`; one still running after `limit` is killed.
ProgramResult RunProgram(const std::vector<std::string>& argv,
                         const std::string& input = "/dev/null",
                         std::chrono::seconds limit = std::chrono::seconds(60));

// How a forked child ended.
struct ChildEnd {
    bool exited = false;  // ran to its end: `code` is its exit status
    int code = -1;
    int signal = 0;  // the signal that ended it, if any
    bool timedOut = false;
    bool Succeeded() const { return exited && code == 0; }
    std::string Describe() const;
};

// Runs `body` in a forked child whose exit status is its result, while this process runs
// `whileRunning` (if any); a child still running after `limit` is killed. The child is a copy of
// this process (our servers keep answering it) and must not use the framework's assertions.
ChildEnd RunInChild(const std::function<int()>& body,
                    const std::function<void()>& whileRunning = nullptr,
                    std::chrono::seconds limit = std::chrono::seconds(60));

// Runs a shell command line and gives what it printed, followed by its errors and "exit status
// N" when it did not end with 0.
std::string RunCommand(const std::string& commandLine);

}  // namespace testing_support
