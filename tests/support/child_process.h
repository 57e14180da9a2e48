// A server program the tests run as their own child, so its pid is known without a pid file
// and it is reaped when stopped.
#pragma once

#include <chrono>
#include <cstdint>
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

}  // namespace testing_support
