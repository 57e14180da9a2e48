// The tools as child processes: output captured, exit status kept, and the file service on a
// free loopback port over a fresh folder.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/real_servers.h"

namespace tools_testing {

// The built programs (paths come from the build).
inline std::string HostProgram() {
    return ZEMUSER_HOST_PROGRAM;
}
inline std::string FileServiceProgram() {
    return ZEMUSER_FILE_SERVICE_PROGRAM;
}

struct ProgramResult {
    int exitCode = -1;  // -1 when it did not exit normally
    std::string out, err;
};

// A started program, killed at the end unless it was waited for.
class RunningProgram {
  public:
    explicit RunningProgram(const std::vector<std::string>& argv,
                            const std::string& input = "/dev/null");
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    void Signal(int signal) const;
    // Its stdout once that holds `text`; "" when 10 s passed first.
    std::string AwaitOut(const std::string& text) const;
    // Waits for the exit; a program still running after `timeout` is killed (exit code -1).
    ProgramResult Wait(std::chrono::milliseconds timeout = std::chrono::seconds(30));

  private:
    testing_support::TempDir folder_;
    int pid_ = -1;
};

inline ProgramResult RunProgram(const std::vector<std::string>& argv) {
    return RunningProgram(argv).Wait();
}

class FileServiceProcess {
  public:
    // Returns once it listens, throws when it does not; `prepareRoot` may fill its folder first.
    explicit FileServiceProcess(const std::vector<std::string>& options = {},
                                const std::function<void(const std::string&)>& prepareRoot = {});
    const std::string& root() const { return root_.path(); }
    const std::string& url() const { return url_; }  // "http://127.0.0.1:<port>/files"
    int port() const { return port_; }
    ProgramResult Stop();  // SIGTERM

  private:
    testing_support::TempDir root_;
    std::unique_ptr<RunningProgram> program_;
    std::string url_;
    int port_ = 0;
};

}  // namespace tools_testing
