// Child processes of the tests: server programs run as their own children (so their pid is
// known without a pid file and they are reaped when stopped), forked copies of the test
// process, and command lines whose output is wanted.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

class ChildProcess {
  public:
    ChildProcess() = default;
    // Starts `argv[0]` with stdin from /dev/null and stdout/stderr appended to `logFile`.
    ChildProcess(const std::vector<std::string>& argv, const std::string& logFile);
    ~ChildProcess();  // stops the process if it still runs
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    int pid() const { return pid_; }
    // True while the process has not exited (reaps it when it has).
    bool Running();
    // Sends `signal`, waits up to `grace` for the exit, then kills it outright.
    void Stop(int signal, std::chrono::milliseconds grace = std::chrono::seconds(5));

  private:
    int pid_ = -1;
};

// Waits until 127.0.0.1:`port` accepts a connection. False when `process` exited first or the
// time-out passed.
bool WaitUntilAccepting(std::uint16_t port, ChildProcess& process,
                        std::chrono::milliseconds timeout = std::chrono::seconds(5));

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
// `whileRunning` (if any); a child still running after `limit` is killed. The child sees a copy
// of the process: servers of the parent keep answering it over loopback, but it must not use
// the test framework's assertions.
ChildEnd RunInChild(const std::function<int()>& body,
                    const std::function<void()>& whileRunning = nullptr,
                    std::chrono::seconds limit = std::chrono::seconds(60));

// Runs a shell command line and gives what it printed, followed by "exit status N" when it did
// not end with 0.
std::string RunCommand(const std::string& commandLine);

}  // namespace testing_support
