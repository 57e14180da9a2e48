// The reference file service as a child process on a free loopback port, serving a fresh
// temporary folder.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "program_run.h"
#include "support/real_servers.h"

namespace tools_testing {

class FileServiceProcess {
  public:
    // Returns once the service listens; throws when it does not. `prepareRoot` may put files
    // in the folder before the service starts.
    explicit FileServiceProcess(
        const std::vector<std::string>& options = {},
        const std::function<void(const std::string& root)>& prepareRoot = nullptr);

    const std::string& root() const { return root_.path(); }
    // The service's address, e.g. "http://127.0.0.1:41234/files".
    const std::string& url() const { return url_; }
    std::uint16_t port() const { return port_; }
    // Stops it with SIGTERM and gives how it ended.
    ProgramResult Stop();

  private:
    testing_support::TempDir root_;
    std::unique_ptr<RunningProgram> program_;
    std::string url_;
    std::uint16_t port_ = 0;
};

}  // namespace tools_testing
