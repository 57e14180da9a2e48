// Runs the tools as child processes, with their output captured and their exit status kept.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "support/real_servers.h"

namespace tools_testing {

// The built programs (paths come from the build).
std::string HostProgram();
std::string FileServiceProgram();

struct ProgramResult {
    int exitCode = -1;  // -1 when it did not exit normally
    std::string out;
    std::string err;
};

// A started program; killed at the end unless it was waited for.
class RunningProgram {
  public:
    // Standard input comes from the file `input`.
    explicit RunningProgram(const std::vector<std::string>& argv,
                            const std::string& input = "/dev/null");
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    void Signal(int signal) const;
    // What it wrote to stdout so far.
    std::string OutSoFar() const;
    // Waits for the exit; a program still running after `timeout` is killed and reported
    // with exit code -1.
    ProgramResult Wait(std::chrono::milliseconds timeout = std::chrono::seconds(30));

  private:
    testing_support::TempDir folder_;
    int pid_ = -1;
};

ProgramResult RunProgram(const std::vector<std::string>& argv,
                         std::chrono::milliseconds timeout = std::chrono::seconds(30),
                         const std::string& input = "/dev/null");

}  // namespace tools_testing
